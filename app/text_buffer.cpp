// text_buffer.cpp -- bounded copies and appends into fixed text buffers
#include "text_buffer.h"

#include <string.h>

void copy_text(char *buffer, size_t size, const char *text)
{
    if (size == 0)
        return;
    buffer[0] = '\0';
    append_text(buffer, size, text);
}

void append_text(char *buffer, size_t size, const char *text)
{
    if (size == 0)
        return;
    const char *end = static_cast<const char *>(memchr(buffer, '\0', size));
    size_t used = end ? static_cast<size_t>(end - buffer) : size - 1;
    size_t room = size - 1 - used;
    size_t length = strlen(text);
    if (length > room)
        length = room;
    memcpy(buffer + used, text, length);
    buffer[used + length] = '\0';
}

void copy_lines_crlf(char *buffer, size_t size, const char *text)
{
    if (size == 0)
        return;
    size_t used = 0;
    for (const char *at = text; *at != '\0'; ++at) {
        bool bare = *at == '\n' && (at == text || at[-1] != '\r');
        if (used + (bare ? 2 : 1) >= size)
            break;
        if (bare)
            buffer[used++] = '\r';
        buffer[used++] = *at;
    }
    buffer[used] = '\0';
}
