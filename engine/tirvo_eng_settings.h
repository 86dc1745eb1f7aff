/* Engine settings: the process-wide values a host sets before it loads
 * fingerprint files or feeds a stream.
 *
 * - Three output streams: errors, warnings and debug output. There are no
 *   defaults: the host sets all three before any other call of the run-time
 *   library. Each stream is switched to unbuffered when it is set, so that
 *   the three interleave in the order written. Until a stream is set, output
 *   meant for it is dropped (never written to a null stream).
 * - The debug switch and the print-addresses switch. Debug on sets both
 *   flags from its argument and switches the two interpreter entries
 *   (tirvo_eng_exec and tirvo_eng_exec_special) to their tracing handlers;
 *   debug off clears the debug flag and switches them back. Each switch
 *   prints one line to the debug stream.
 * - The environment values that byte code reads: $major, $minor, $patch and
 *   $build (initially 0) and the fingerprint-language version $fpver
 *   (initially 1).
 * - The destination-port provider for $dport: a function and its argument.
 *   It has no default; the host sets it before any program that reads $dport
 *   runs. Without one, $dport reads as 0.
 *
 * Everything here is process-wide and unlocked: change it only while no
 * loader or engine call is running. The engine reads the values through
 * tirvo_eng_settings (C++ only) without a call.
 *
 * The interpreters own their handler tables. They hand this module their
 * switch functions through tirvo_eng_set_debug_switches; until they do,
 * debug on and off change only the flags and print the lines.
 *
 * This header is plain C so that a C host can include it.
 */
#ifndef TIRVO_ENGINE_TIRVO_ENG_SETTINGS_H
#define TIRVO_ENGINE_TIRVO_ENG_SETTINGS_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Returns the destination port of the stream being matched; gets the
 * argument given with the provider. */
typedef uint32_t (*tirvo_eng_dport_fn)(void *arg);

/* Switches one interpreter entry to its tracing handlers (`on` 1) or back
 * (`on` 0). Returns 0 when the switch completed. */
typedef int (*tirvo_eng_debug_switch_fn)(int on);

/* Sets the stream for error messages and makes it unbuffered. The stream
 * stays the caller's; null drops error messages. */
void tirvo_eng_set_error_stream(FILE *stream);

/* Sets the stream for warnings and makes it unbuffered; null drops them. */
void tirvo_eng_set_warning_stream(FILE *stream);

/* Sets the stream for debug output (traces, load dumps, graph dumps) and
 * makes it unbuffered; null drops it. */
void tirvo_eng_set_debug_stream(FILE *stream);

/* The three streams as set, or null before they are set. */
FILE *tirvo_eng_error_stream(void);
FILE *tirvo_eng_warning_stream(void);
FILE *tirvo_eng_debug_stream(void);

/* Turns debug output on: sets the debug flag and the print-addresses flag
 * (non-zero `print_addresses`: traces show the addresses of context lists,
 * else a null pointer), then switches tirvo_eng_exec and then
 * tirvo_eng_exec_special to their tracing handlers, printing
 * "tirvo: enabling tirvo_eng_exec() debug\n" and
 * "tirvo: enabling tirvo_eng_exec_special() debug\n" to the debug stream.
 * A switch that does not complete aborts the process. */
void tirvo_eng_debug_on(int print_addresses);

/* Turns debug output off: clears the debug flag, switches both entries back
 * and prints "tirvo: disabling tirvo_eng_exec() debug\n" and
 * "tirvo: disabling tirvo_eng_exec_special() debug\n" to the debug stream.
 * The print-addresses flag keeps its value. A switch that does not complete
 * aborts the process. */
void tirvo_eng_debug_off(void);

/* 1 while debug output is on, else 0. */
int tirvo_eng_debug_enabled(void);

/* 1 when traces print list addresses, else 0. */
int tirvo_eng_print_addresses(void);

/* Set the values of $major, $minor, $patch, $build and $fpver. */
void tirvo_eng_set_major(uint32_t value);
void tirvo_eng_set_minor(uint32_t value);
void tirvo_eng_set_patch(uint32_t value);
void tirvo_eng_set_build(uint32_t value);
void tirvo_eng_set_fpver(uint32_t value);

/* The values of $major, $minor, $patch, $build (initially 0) and $fpver
 * (initially 1). */
uint32_t tirvo_eng_major(void);
uint32_t tirvo_eng_minor(void);
uint32_t tirvo_eng_patch(void);
uint32_t tirvo_eng_build(void);
uint32_t tirvo_eng_fpver(void);

/* Sets the destination-port provider: `fn` (null: none) is called with
 * `arg` whenever a program reads $dport. */
void tirvo_eng_set_dport_provider(tirvo_eng_dport_fn fn, void *arg);

/* The provider's function and argument as set (null before). */
tirvo_eng_dport_fn tirvo_eng_dport_provider(void **arg);

/* The destination port: the provider's result, or 0 when none is set. */
uint32_t tirvo_eng_dport(void);

/* Engine-internal: the interpreters register the functions that switch
 * their handler tables (`exec` for tirvo_eng_exec, `exec_special` for
 * tirvo_eng_exec_special; null for none). Debug on and off call them. */
void tirvo_eng_set_debug_switches(tirvo_eng_debug_switch_fn exec,
                                  tirvo_eng_debug_switch_fn exec_special);

#ifdef __cplusplus
}

/* The settings as the engine reads them. Written only by the setters above. */
struct tirvo_eng_settings_record {
    FILE *error_stream;                       /* error messages, or null */
    FILE *warning_stream;                     /* warnings, or null */
    FILE *debug_stream;                       /* debug output, or null */
    int debug;                                /* 1 while debug output is on */
    int print_addresses;                      /* 1: traces print list addresses */
    uint32_t major;                           /* $major */
    uint32_t minor;                           /* $minor */
    uint32_t patch;                           /* $patch */
    uint32_t build;                           /* $build */
    uint32_t fpver;                           /* $fpver, the language version */
    tirvo_eng_dport_fn dport_fn;              /* destination-port provider, or null */
    void *dport_arg;                          /* its argument */
    tirvo_eng_debug_switch_fn exec_switch;    /* handler switch of tirvo_eng_exec, or null */
    tirvo_eng_debug_switch_fn special_switch; /* the same of tirvo_eng_exec_special */
};

/* The one settings record of the process. */
extern tirvo_eng_settings_record tirvo_eng_settings;
#endif

#endif
