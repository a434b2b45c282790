/* Prints the machine's rows as hwidtool lists them, written from hwid.h
 * alone: on the fabricated machines its output must equal hwidtool's byte
 * for byte, however it was linked. */
#include <hwid.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *type_name(int type) {
    switch (type) {
        case HWID_NIC:
            return "NIC";
        case HWID_USB:
            return "USB";
        default:
            return "";
    }
}

/* The length of the well-formed UTF-8 sequence at `s` (shortest form, no
 * surrogate, at most U+10FFFF) with its code point, or 0. */
static size_t utf8_sequence(const unsigned char *s, size_t left, unsigned long *code) {
    size_t length, i;
    unsigned long lowest;
    if (s[0] < 0x80) {
        *code = s[0];
        return 1;
    } else if ((s[0] & 0xE0) == 0xC0) {
        length = 2, lowest = 0x80, *code = s[0] & 0x1F;
    } else if ((s[0] & 0xF0) == 0xE0) {
        length = 3, lowest = 0x800, *code = s[0] & 0x0F;
    } else if ((s[0] & 0xF8) == 0xF0) {
        length = 4, lowest = 0x10000, *code = s[0] & 0x07;
    } else {
        return 0;
    }
    if (left < length) return 0;
    for (i = 1; i < length; i++) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        *code = *code << 6 | (s[i] & 0x3F);
    }
    if (*code < lowest || (*code >= 0xD800 && *code <= 0xDFFF) || *code > 0x10FFFF) return 0;
    return length;
}

/* `text` for a terminal: each control character (C0, DEL, C1) and each
 * byte outside well-formed UTF-8 becomes '?'. The caller frees it. */
static char *terminal_safe(const char *text) {
    const unsigned char *in = (const unsigned char *)text;
    size_t left = strlen(text), out = 0;
    char *safe = malloc(left + 1);
    if (safe == NULL) return NULL;
    while (left > 0) {
        unsigned long code = 0;
        size_t length = utf8_sequence(in, left, &code);
        if (length == 0 || code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            safe[out++] = '?';
            length = length == 0 ? 1 : length;
        } else {
            memcpy(safe + out, in, length);
            out += length;
        }
        in += length;
        left -= length;
    }
    safe[out] = '\0';
    return safe;
}

int main(void) {
    hwid_list *list = NULL;
    size_t i;
    int status = hwid_list_new(&list);
    if (status != HWID_OK) {
        fprintf(stderr, "hwid_list_new: %s\n", hwid_strerror(status));
        return 1;
    }
    printf("\nAvailable unique ids:\n\n");
    printf("%-5s %-32s %-40s\n", "TYPE", "Hardware ID", "Comment");
    printf("%s\n",
           "------------------------------------------------------------------------------");
    for (i = 0; i < hwid_list_count(list); i++) {
        char *comment = terminal_safe(hwid_list_comment(list, i));
        if (comment == NULL) {
            status = HWID_E_NOMEM;
            break;
        }
        printf("%-5s %-32s %-40s\n", type_name(hwid_list_type(list, i)),
               hwid_list_hardware_id(list, i), comment);
        free(comment);
    }
    hwid_list_free(list);
    if (status != HWID_OK) {
        fprintf(stderr, "listing: %s\n", hwid_strerror(status));
        return 1;
    }
    printf("\n\n\n");
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;
}
