// SPDX-License-Identifier: BSD-2-Clause
/* Pellarion host interface for loadable modules.
 *
 * The records and operations a module sees: module registration, translators and their
 * instances, media frames, logging and the CLI. The host program defines and exports every
 * operation and global declared here; a module leaves them undefined and the dynamic linker
 * binds them when the host loads the module file. Plain C layout and C linkage, so a module
 * written in any language can use it.
 */
#ifndef PEL_HOST_H
#define PEL_HOST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PEL_API __attribute__((visibility("default")))

/* ---- Modules ---- */

struct pel_module; /* the host's own record of a loaded module (opaque) */

struct pel_module_info {
    struct pel_module *self;   /* filled in by the host at registration */
    int (*load)(void);
    int (*reload)(void);
    int (*unload)(void);
    const char *name;
    const char *description;
    unsigned int flags;
    char buildopt_sum[33];     /* build-option checksum; empty when not used */
    unsigned int load_pri;
    const char *required_modules;
    const char *optional_modules;
    const char *enhances;
    int support_level;
};

/* Called from a module's library constructor / destructor. */
PEL_API void pel_module_register(struct pel_module_info *info);
PEL_API void pel_module_unregister(struct pel_module_info *info);

/* ---- Media formats and frames ---- */

#define PEL_MEDIA_TYPE_AUDIO 1
#define PEL_FRAME_VOICE 2

struct pel_format {
    const char *name;
    int media_type;
    unsigned int sample_rate;
};

/* The host's media formats: 8 kHz signed linear and G.729. */
PEL_API extern const struct pel_format *pel_format_slin;
PEL_API extern const struct pel_format *pel_format_g729;

struct pel_frame {
    int frametype;                   /* PEL_FRAME_VOICE for audio */
    const struct pel_format *format;
    int datalen;                     /* bytes at data */
    int samples;                     /* audio samples the data stands for */
    const char *src;                 /* who made the frame */
    const void *data;
    int mallocd;                     /* 0: the frame and its data are not the receiver's to free */
    int offset;                      /* head room before data, in bytes */
};

/* ---- Translators ---- */

struct pel_codec {
    const char *name;
    int type;                        /* media type */
    unsigned int sample_rate;
    /* Left zero by modules; the host may fill them. */
    unsigned int id;
    const char *description;
    unsigned int minimum_ms;
    unsigned int maximum_ms;
    unsigned int default_ms;
};

struct pel_trans_pvt;

struct pel_translator {
    char name[80];
    struct pel_codec src_codec;
    struct pel_codec dst_codec;
    char format[80];                 /* destination format name */

    int (*newpvt)(struct pel_trans_pvt *pvt);                 /* set-up, once per instance */
    int (*framein)(struct pel_trans_pvt *pvt, struct pel_frame *in);
    struct pel_frame *(*frameout)(struct pel_trans_pvt *pvt); /* NULL: host default */
    void (*destroy)(struct pel_trans_pvt *pvt);               /* NULL: nothing to release */
    struct pel_frame *(*sample)(void);
    void (*feedback)(struct pel_trans_pvt *pvt, struct pel_frame *feedback);

    int buffer_samples;              /* capacity of the instance in samples */
    int buf_size;                    /* output buffer size in bytes */
    size_t desc_size;                /* private record size */
    int native_plc;                  /* the translator conceals lost frames itself */

    /* Filled in by the host at registration. */
    struct pel_module *module;
    const struct pel_format *dst_format;
    int active;
};

/* One translator instance. The host allocates it with room for the private record and the
 * output buffer; the module works only through the members below. */
struct pel_trans_pvt {
    struct pel_translator *t;
    struct pel_frame f;              /* the outgoing frame, rebuilt by every frame-out */
    int samples;                     /* sample counter */
    int datalen;                     /* byte counter */
    void *pvt;                       /* private record, desc_size bytes */
    union {
        char *c;
        uint8_t *uc;
        int16_t *i16;
    } outbuf;                        /* output buffer, buf_size bytes */
};

/* Registers a translator for the module whose handle is given. 0 on success. */
PEL_API int __pel_register_translator(struct pel_translator *t, struct pel_module *module);
PEL_API int pel_unregister_translator(struct pel_translator *t);

/* Builds the instance's outgoing frame from the start of its output buffer. A datalen or
 * samples of 0 takes the instance's byte or sample counter instead and resets that counter.
 * Returns NULL when the frame would carry no samples. */
PEL_API struct pel_frame *pel_trans_frameout(struct pel_trans_pvt *pvt, int datalen, int samples);

/* The frame-out used for translators that declare none: emits what the counters hold. */
PEL_API struct pel_frame *pel_trans_default_frameout(struct pel_trans_pvt *pvt);

/* ---- Logging ---- */

#define PEL_LOG_DEBUG 0
#define PEL_LOG_VERBOSE 1
#define PEL_LOG_NOTICE 2
#define PEL_LOG_ERROR 3

PEL_API void pel_log(int level, const char *file, int line, const char *function, const char *fmt,
                     ...) __attribute__((format(printf, 5, 6)));

/* ---- CLI ---- */

#define PEL_CLI_INIT (-2)
#define PEL_CLI_GENERATE (-3)
#define PEL_CLI_HANDLER (-1)
#define PEL_CLI_SUCCESS ((char *)0)
#define PEL_CLI_FAILURE ((char *)"failure")

struct pel_cli_args {
    int fd;                          /* where the command's output goes */
    int argc;
    const char *const *argv;
    const char *line;                /* the command line as typed */
};

struct pel_cli_entry {
    const char *command;             /* set by the handler on PEL_CLI_INIT */
    const char *summary;
    const char *usage;               /* set by the handler on PEL_CLI_INIT */
    char *(*handler)(struct pel_cli_entry *e, int cmd, struct pel_cli_args *a);
    /* Filled in by the host at registration. */
    struct pel_module *module;
    int registered;
};

PEL_API int __pel_cli_register_multiple(struct pel_cli_entry *e, int len, struct pel_module *module);
PEL_API int pel_cli_unregister_multiple(struct pel_cli_entry *e, int len);

/* Writes formatted text to a CLI user's descriptor. */
PEL_API void pel_cli(int fd, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

#ifdef __cplusplus
}
#endif

#endif /* PEL_HOST_H */
