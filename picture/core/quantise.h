/* Colour reduction beside the picture library: pure functions on planes, for
 * saving true colour to formats that hold only a colour map, and the test that
 * tells whether a colour map can be written as grey without losing colours.
 * Planes and maps are as in picture/core/picture.h. Usable from C and C++. */
#ifndef PICTURE_CORE_QUANTISE_H
#define PICTURE_CORE_QUANTISE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Turns a true-colour image into an index plane and a map of at most
 * maxColours (1 to 256) entries. An image of no more distinct colours than
 * that is mapped exactly: every pixel's entry is its own colour. A richer one
 * is reduced by median cut (boxes split where the error is largest, their
 * means refined twice) and every pixel takes its nearest entry; with dither
 * non-zero the error is spread to the neighbours (Floyd-Steinberg) instead.
 * The map holds each colour once and only colours some pixel has; *colours
 * receives the number of its entries. Returns PIC_OK, or
 * PIC_ERR_DATA for a size or maxColours out of range or when memory runs out
 * (nothing is written then). */
int picQuantise(int width, int height, const uint8_t* red, const uint8_t* green,
                const uint8_t* blue, int maxColours, int dither, uint8_t* indices, int32_t* map,
                int* colours);

/* picQuantise that reports its progress: `progress` (when not null) is called
 * with `context` and a percentage from 0 to 100, several times a second on
 * large images; a non-zero answer stops the work with PIC_INTERRUPTED (the
 * indices and the map are then undefined). */
typedef int (*picQuantiseProgress)(void* context, int percent);
int picQuantiseWithProgress(int width, int height, const uint8_t* red, const uint8_t* green,
                            const uint8_t* blue, int maxColours, int dither, uint8_t* indices,
                            int32_t* map, int* colours, picQuantiseProgress progress, void* context);

/* 1 when each of the first `colours` entries is grey (red = green = blue). */
int picMapIsGrey(int colours, const int32_t* map);

#ifdef __cplusplus
}
#endif

#endif
