/* A C host of the run-time library: includes the public headers with a C
 * compiler, sets the engine's streams and allocators, loads a small file it
 * writes itself and one in the old format, and checks the results. Exits
 * with 0 when everything holds and prints what failed otherwise. */
#include "engine/tirvo_eng_settings.h"
#include "store/tirvo_alloc.h"
#include "store/tirvo_load.h"
#include "store/tirvo_load_dump.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

_Static_assert(sizeof(tirvo_fp_state) == 32, "state records have 32 bytes");
_Static_assert(sizeof(tirvo_fp_count) == 48, "count information has 48 bytes");
_Static_assert(sizeof(tirvo_location) == 24, "a location has six 32-bit fields");

static int failures;

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);               \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

static int obtained;

static void *counting_obtain(size_t size) {
    ++obtained;
    return malloc(size);
}

/* Appends the field `id` (13000-13044) with the 32-bit value `v` to `buf`
 * at `*pos`: header 0x0A | L << 4, the id's low byte, 6, then L value bytes
 * least significant first. */
static void put_i32(unsigned char *buf, size_t *pos, unsigned id, unsigned v) {
    unsigned char value[4];
    int len = 0;
    while (v) {
        value[len++] = (unsigned char)v;
        v >>= 8;
    }
    buf[(*pos)++] = (unsigned char)(0x0A | len << 4);
    buf[(*pos)++] = (unsigned char)(id & 0xFF);
    buf[(*pos)++] = 6;
    memcpy(buf + *pos, value, (size_t)len);
    *pos += (size_t)len;
}

/* Closes the record that starts at `start`: writes its length after the
 * kind byte, most significant first. */
static void end_record(unsigned char *buf, size_t start, size_t pos) {
    unsigned long len = (unsigned long)(pos - start);
    buf[start + 1] = (unsigned char)(len >> 24);
    buf[start + 2] = (unsigned char)(len >> 16);
    buf[start + 3] = (unsigned char)(len >> 8);
    buf[start + 4] = (unsigned char)len;
}

/* A file with a header (file id 9, two situations) and the two situation
 * records 40 and -3, zlib-compressed into `f`. */
static void write_file(FILE *f) {
    unsigned char raw[128], packed[256];
    size_t pos = 0, start;
    uLongf packed_len = sizeof packed;

    start = pos;
    raw[pos] = 1;
    pos += 5;
    put_i32(raw, &pos, 13000, 1);
    put_i32(raw, &pos, 13037, 9);
    put_i32(raw, &pos, 13003, 0);
    put_i32(raw, &pos, 13004, 0);
    put_i32(raw, &pos, 13005, 0);
    put_i32(raw, &pos, 13039, 2);
    put_i32(raw, &pos, 13041, 0);
    end_record(raw, start, pos);
    start = pos;
    raw[pos] = 3;
    pos += 5;
    put_i32(raw, &pos, 13040, 40);
    end_record(raw, start, pos);
    start = pos;
    raw[pos] = 3;
    pos += 5;
    put_i32(raw, &pos, 13040, (unsigned)-3);
    end_record(raw, start, pos);

    CHECK(compress(packed, &packed_len, raw, (uLong)pos) == Z_OK);
    fwrite(packed, 1, packed_len, f);
    rewind(f);
}

int main(void) {
    tirvo_fingerprint *fp = NULL;
    FILE *f = tmpfile();
    FILE *errors = tmpfile();
    char text[256];
    size_t len;

    CHECK(f != NULL && errors != NULL);
    if (!f || !errors)
        return 1;
    tirvo_eng_set_error_stream(errors);
    tirvo_eng_set_warning_stream(errors);
    tirvo_eng_set_debug_stream(errors);
    tirvo_eng_set_major(2);
    CHECK(tirvo_eng_major() == 2);
    CHECK(tirvo_eng_fpver() == 1);

    tirvo_set_allocators(
        counting_obtain, free, counting_obtain, free, counting_obtain, free, counting_obtain, free,
        counting_obtain, free, counting_obtain, free, counting_obtain, free, counting_obtain, free,
        counting_obtain, free, counting_obtain, free, counting_obtain, free, counting_obtain, free,
        counting_obtain, free, counting_obtain, free, counting_obtain, free, counting_obtain, free,
        counting_obtain, free, counting_obtain, free, counting_obtain, free, counting_obtain, free,
        counting_obtain, free, counting_obtain, free, counting_obtain, free, counting_obtain, free);

    write_file(f);
    CHECK(tirvo_load_fingerprint(f, &fp, "c-host.fp") == tirvo_load_error_success);
    CHECK(fp != NULL);
    if (fp) {
        CHECK(fp->file_id == 9);
        CHECK(fp->num_situations == 2);
        CHECK(fp->situations[0] == -3 && fp->situations[1] == 40);
        CHECK(tirvo_fingerprint_has_situation(fp, 40) == 1);
        CHECK(tirvo_fingerprint_has_situation(fp, -3) == 1);
        CHECK(tirvo_fingerprint_has_situation(fp, 41) == 0);
        CHECK(strcmp(fp->file_name, "c-host.fp") == 0);
        tirvo_free_fingerprint(fp);
    }
    CHECK(obtained > 0);
    fclose(f);

    f = tmpfile();
    CHECK(f != NULL);
    if (f) {
        fwrite("ZkvM\0\0\0\2", 1, 8, f);
        rewind(f);
        CHECK(tirvo_load_fingerprint(f, &fp, "old.fp") == tirvo_load_error_old_format);
        CHECK(fp == NULL);
        fclose(f);
    }
    CHECK(tirvo_load_fingerprint_file("/nonexistent/c-host.fp", &fp) == tirvo_load_error_read);
    CHECK(strcmp(tirvo_load_error_text(6), "Decoding error") == 0);

    fflush(errors);
    rewind(errors);
    len = fread(text, 1, sizeof text - 1, errors);
    text[len] = '\0';
    CHECK(strcmp(text, "could not load fingerprint file old.fp: 14 (Old DFA format detected (this "
                       "error code used only internally))\n") == 0);
    tirvo_eng_set_error_stream(NULL);
    tirvo_eng_set_warning_stream(NULL);
    tirvo_eng_set_debug_stream(NULL);
    fclose(errors);

    if (failures == 0)
        printf("all C host checks passed\n");
    return failures == 0 ? 0 : 1;
}
