// The run-length code of PCX rows, on memory: a byte with both top bits set
// repeats the next byte (count in its low six bits), any other byte stands
// for itself. The writer escapes every value from 0x40 up as a run of one.
#ifndef PICTURE_FORMATS_PCX_RUNS_H
#define PICTURE_FORMATS_PCX_RUNS_H

#include <cstddef>
#include <cstdint>

// Expands run-length data into target[*produced .. targetLength). A run that
// passes the end of the target is cut there. A count byte whose value byte is
// not in the source yet is left unread. Returns the source bytes consumed.
size_t picPcxUnpackRuns(const uint8_t* source, size_t sourceLength, uint8_t* target, size_t targetLength,
                        size_t* produced);

// The decoders picPcxUnpackRuns chooses between, for tests: the plain loop,
// the reference the others are checked against; word-wise steps on eight
// source bytes at a time, and chunks of 64 for other writers' mix of literals
// and runs; and those with SSSE3 shuffles for short runs, chosen where
// picHasSsse3() says the processor has them.
enum class picPcxRunDecoder { plain, wordwise, shuffled };
bool picPcxRunDecoderAvailable(picPcxRunDecoder decoder);
// As picPcxUnpackRuns, by the decoder named (word-wise where it is not available).
size_t picPcxUnpackRunsWith(picPcxRunDecoder decoder, const uint8_t* source, size_t sourceLength, uint8_t* target,
                            size_t targetLength, size_t* produced);
size_t picPcxUnpackRunsPlain(const uint8_t* source, size_t sourceLength, uint8_t* target, size_t targetLength,
                             size_t* produced);

// Run-length encodes `length` bytes into target, which holds 2 * length bytes.
// Returns the encoded length.
size_t picPcxPackRuns(const uint8_t* source, size_t length, uint8_t* target);

#endif
