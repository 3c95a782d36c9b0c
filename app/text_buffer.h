// text_buffer.h -- bounded copies and appends into fixed text buffers
#pragma once

#include <stddef.h>

// Copies text into buffer of size bytes, cut to fit; buffer is always terminated (size > 0).
void copy_text(char *buffer, size_t size, const char *text);

// Copies text into buffer of size bytes as a multiline edit control shows
// lines: it breaks them at CR LF only, so each LF without a CR before it gets
// one. Cut to fit, never between the two; buffer is always terminated (size > 0).
void copy_lines_crlf(char *buffer, size_t size, const char *text);

// Appends text behind the terminated content of buffer, cut at the buffer's end.
// A buffer with no terminator inside its size is terminated at its last byte first.
void append_text(char *buffer, size_t size, const char *text);
