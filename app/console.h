#pragma once

// Console output: the transcript on standard output, and messages about what went wrong on
// standard error. When standard output is a terminal every print reaches it at once, so a
// running count without a newline shows while the work goes on; when it is redirected, output
// is buffered as usual and written out at the latest when the process ends.
namespace sorvik::console {

// Chooses the buffering for standard output; call once before the first print.
void SetUp();

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Print(const char* format, ...);

// Prints `text` followed by a newline.
void PutLine(const char* text);

void PutChar(char character);

// Prints "sorvik: ", the message and a newline on standard error, after everything printed on
// standard output so far: what went wrong, besides the transcript.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void PrintError(const char* format, ...);

// Writes `text` as it is on standard error, after everything printed on standard output so far:
// the progress line.
void PutError(const char* text);

}  // namespace sorvik::console
