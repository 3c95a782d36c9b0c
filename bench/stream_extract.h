// stream_extract.h -- a prototype of file-mode extraction that inflates through a fixed chunk straight into the file
#pragma once

#include <stddef.h>

enum { STREAM_CHUNK_SIZE = 64 * 1024 };

// inflate_to_file -- unpacks resource (size bytes: the size header, then the
// zlib stream) into path through one malloc'ed chunk of STREAM_CHUNK_SIZE
// bytes, refusing output beyond the size header as decode_payload does.
// True when the stream ended and its output was written whole; otherwise the
// file is removed.
bool inflate_to_file(const unsigned char *resource, size_t size, const char *path);
