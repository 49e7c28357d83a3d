// solsys: the animated Sun, Earth and Moon. The command line belongs to GLUT.
#include <GL/freeglut.h>

#include "viewer/frameLoop.h"

int main(int argc, char** argv) {
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(WINDOW_WIDTH, WINDOW_HEIGHT);
  glutCreateWindow(WINDOW_TITLE);
  glutDisplayFunc(drawFrame);
  glutReshapeFunc(reshapeWindow);
  glutKeyboardFunc(handleKey);
  glutIdleFunc(drawFrame);
  loadSceneTextures();
  glutMainLoop();
  return 0;
}
