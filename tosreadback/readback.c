/* A TOS program for a real Atari operating system: it walks drive C:,
 * copies every folder and file to D:\TREE, and reports through Hatari's
 * NatFeats what it saw and C:'s Dfree figures, then ends the emulator with
 * its status (0: all read and copied, 1: something failed, 2: no drive C:).
 *
 * Freestanding: no C library, GEMDOS through trap #1, every variable on the
 * stack (the code is position independent and carries no relocation table),
 * and no 32-bit multiplication or division (a plain 68000 has none, and the
 * cross compiler's support library is not built for it). */

typedef unsigned long u32;

long nf_id(const char *name);
long nf_call(long id, ...);

/* GEMDOS and BIOS calls, arguments pushed last to first. */
static long gemdos_l(short fn, long a) {
    register long ret __asm__("d0");
    __asm__ volatile("move.l %2,-(%%sp)\n\tmove.w %1,-(%%sp)\n\ttrap #1\n\taddq.l #6,%%sp"
                     : "=r"(ret) : "g"(fn), "g"(a) : "d1", "d2", "a0", "a1", "a2", "memory", "cc");
    return ret;
}
static long gemdos_w(short fn, short a) {
    register long ret __asm__("d0");
    __asm__ volatile("move.w %2,-(%%sp)\n\tmove.w %1,-(%%sp)\n\ttrap #1\n\taddq.l #4,%%sp"
                     : "=r"(ret) : "g"(fn), "g"(a) : "d1", "d2", "a0", "a1", "a2", "memory", "cc");
    return ret;
}
static long gemdos_v(short fn) {
    register long ret __asm__("d0");
    __asm__ volatile("move.w %1,-(%%sp)\n\ttrap #1\n\taddq.l #2,%%sp"
                     : "=r"(ret) : "g"(fn) : "d1", "d2", "a0", "a1", "a2", "memory", "cc");
    return ret;
}
static long gemdos_lw(short fn, long a, short b) {
    register long ret __asm__("d0");
    __asm__ volatile("move.w %3,-(%%sp)\n\tmove.l %2,-(%%sp)\n\tmove.w %1,-(%%sp)\n\ttrap #1\n\taddq.l #8,%%sp"
                     : "=r"(ret) : "g"(fn), "g"(a), "g"(b) : "d1", "d2", "a0", "a1", "a2", "memory", "cc");
    return ret;
}
static long gemdos_wll(short fn, short a, long b, long c) {
    register long ret __asm__("d0");
    __asm__ volatile("move.l %4,-(%%sp)\n\tmove.l %3,-(%%sp)\n\tmove.w %2,-(%%sp)\n\tmove.w %1,-(%%sp)\n\t"
                     "trap #1\n\tlea 12(%%sp),%%sp"
                     : "=r"(ret) : "g"(fn), "g"(a), "g"(b), "g"(c) : "d1", "d2", "a0", "a1", "a2", "memory", "cc");
    return ret;
}
static long bios_v(short fn) {
    register long ret __asm__("d0");
    __asm__ volatile("move.w %1,-(%%sp)\n\ttrap #13\n\taddq.l #2,%%sp"
                     : "=r"(ret) : "g"(fn) : "d1", "d2", "a0", "a1", "a2", "memory", "cc");
    return ret;
}

#define Super(s) gemdos_l(0x20, (long)(s))
#define Fsetdta(d) gemdos_l(0x1a, (long)(d))
#define Dfree(buf, drive) gemdos_lw(0x36, (long)(buf), (drive))
#define Dcreate(path) gemdos_l(0x39, (long)(path))
#define Fcreate(path, attr) gemdos_lw(0x3c, (long)(path), (attr))
#define Fopen(path, mode) gemdos_lw(0x3d, (long)(path), (mode))
#define Fclose(h) gemdos_w(0x3e, (h))
#define Fread(h, n, buf) gemdos_wll(0x3f, (h), (n), (long)(buf))
#define Fwrite(h, n, buf) gemdos_wll(0x40, (h), (n), (long)(buf))
#define Fsfirst(pattern, attr) gemdos_lw(0x4e, (long)(pattern), (attr))
#define Fsnext() gemdos_v(0x4f)
#define Drvmap() bios_v(10)

/* The disk transfer area of Fsfirst/Fsnext. */
struct Dta {
    char reserved[21];
    unsigned char attr;
    unsigned short time;
    unsigned short date;
    u32 size;
    char name[14];
};

enum { ATTR_FOLDER = 0x10, SEARCH_ALL = 0x17 /* read-only, hidden, system, folders */ };
enum { PATH_MAX_CHARS = 200, COPY_CHUNK = 16384 };

/* GCC may call these for copies and clears of its own. */
void *memcpy(void *dst, const void *src, unsigned long n) {
    char *d = dst;
    const char *s = src;
    while (n--) *d++ = *s++;
    return dst;
}
void *memset(void *dst, int c, unsigned long n) {
    char *d = dst;
    while (n--) *d++ = (char)c;
    return dst;
}

static unsigned length(const char *s) {
    unsigned n = 0;
    while (s[n]) ++n;
    return n;
}

/* One line of output goes out through NatFeats in one piece. */
struct Line {
    char text[PATH_MAX_CHARS + 64];
    unsigned used;
};
static void put(struct Line *l, const char *s) {
    while (*s && l->used + 2 < sizeof l->text) l->text[l->used++] = *s++;
    l->text[l->used] = 0;
}
static void putNumber(struct Line *l, long value) {
    static const u32 powers[] = {1000000000UL, 100000000UL, 10000000UL, 1000000UL, 100000UL,
                                 10000UL, 1000UL, 100UL, 10UL, 1UL};
    char digits[12];
    unsigned n = 0;
    u32 v = (u32)value;
    if (value < 0) {
        digits[n++] = '-';
        v = (u32)-value;
    }
    int started = 0;
    for (unsigned i = 0; i < sizeof powers / sizeof powers[0]; ++i) {
        char d = '0';
        while (v >= powers[i]) {
            v -= powers[i];
            ++d;
        }
        if (d != '0' || started || i + 1 == sizeof powers / sizeof powers[0]) {
            digits[n++] = d;
            started = 1;
        }
    }
    digits[n] = 0;
    put(l, digits);
}

struct Run {
    long nfStderr;
    char src[PATH_MAX_CHARS + 16]; /* "C:\DIR\FILE" */
    char dst[PATH_MAX_CHARS + 16]; /* "D:\TREE\DIR\FILE" */
    unsigned srcRoot;              /* length of "C:" */
    unsigned dstRoot;              /* length of "D:\TREE" */
    u32 files, folders, bytes;
    int failed;
};

static void emit(struct Run *run, struct Line *l) {
    put(l, "\n");
    if (run->nfStderr) nf_call(run->nfStderr, l->text);
}

/* "ERROR what C:\PATH code" */
static void error(struct Run *run, const char *what, long code) {
    struct Line l = {{0}, 0};
    put(&l, "READBACK ERROR ");
    put(&l, what);
    put(&l, " ");
    put(&l, run->src + run->srcRoot);
    put(&l, " ");
    putNumber(&l, code);
    emit(run, &l);
    run->failed = 1;
}

/* Appends "\name" to both paths; returns 0 when a path would be too long. */
static int enter(struct Run *run, const char *name, unsigned *srcEnd, unsigned *dstEnd) {
    unsigned n = length(name);
    *srcEnd = length(run->src);
    *dstEnd = length(run->dst);
    if (*srcEnd + n + 2 > PATH_MAX_CHARS || *dstEnd + n + 2 > PATH_MAX_CHARS) return 0;
    run->src[*srcEnd] = '\\';
    memcpy(run->src + *srcEnd + 1, name, n + 1);
    run->dst[*dstEnd] = '\\';
    memcpy(run->dst + *dstEnd + 1, name, n + 1);
    return 1;
}
static void leave(struct Run *run, unsigned srcEnd, unsigned dstEnd) {
    run->src[srcEnd] = 0;
    run->dst[dstEnd] = 0;
}

static void copyFile(struct Run *run, u32 size) {
    struct Line l = {{0}, 0};
    put(&l, "READBACK F ");
    put(&l, run->src + run->srcRoot);
    put(&l, " ");
    putNumber(&l, (long)size);
    emit(run, &l);
    ++run->files;

    long in = Fopen(run->src, 0);
    if (in < 0) {
        error(run, "open", in);
        return;
    }
    long out = Fcreate(run->dst, 0);
    if (out < 0) {
        error(run, "create", out);
        Fclose((short)in);
        return;
    }
    char buffer[COPY_CHUNK];
    u32 copied = 0;
    for (;;) {
        long got = Fread((short)in, COPY_CHUNK, buffer);
        if (got < 0) {
            error(run, "read", got);
            break;
        }
        if (got == 0) break;
        long put = Fwrite((short)out, got, buffer);
        if (put != got) {
            error(run, "write", put);
            break;
        }
        copied += (u32)got;
    }
    Fclose((short)out);
    Fclose((short)in);
    run->bytes += copied;
    if (copied != size) error(run, "size", (long)copied);
}

static void walk(struct Run *run) {
    struct Dta dta;
    unsigned srcEnd = length(run->src);
    if (srcEnd + 5 > PATH_MAX_CHARS) {
        error(run, "path", 0);
        return;
    }
    memcpy(run->src + srcEnd, "\\*.*", 5);
    Fsetdta(&dta);
    long found = Fsfirst(run->src, SEARCH_ALL);
    run->src[srcEnd] = 0;
    while (found == 0) {
        const int dot = dta.name[0] == '.' && (dta.name[1] == 0 || (dta.name[1] == '.' && dta.name[2] == 0));
        unsigned s, d;
        if (!dot) {
            if (!enter(run, dta.name, &s, &d)) {
                error(run, "path", 0);
            } else if (dta.attr & ATTR_FOLDER) {
                struct Line l = {{0}, 0};
                put(&l, "READBACK D ");
                put(&l, run->src + run->srcRoot);
                emit(run, &l);
                ++run->folders;
                long made = Dcreate(run->dst);
                if (made < 0) error(run, "mkdir", made);
                walk(run);
                Fsetdta(&dta); /* the search of this folder goes on */
                leave(run, s, d);
            } else {
                copyFile(run, dta.size);
                leave(run, s, d);
            }
        }
        found = Fsnext();
    }
    /* -33 (file not found: an empty folder) and -49 (no more files) end a search. */
    if (found != -33 && found != -49) error(run, "search", found);
}

int readback_main(void *basepage) {
    (void)basepage;
    Super(0); /* NatFeats calls are only sure to work in supervisor mode */
    struct Run run;
    memset(&run, 0, sizeof run);
    run.nfStderr = nf_id("NF_STDERR");
    long nfExit = nf_id("NF_EXIT");
    memcpy(run.src, "C:", 3);
    memcpy(run.dst, "D:\\TREE", 8);
    run.srcRoot = 2;
    run.dstRoot = 7;

    struct Line l = {{0}, 0};
    long drives = Drvmap();
    put(&l, "READBACK DRVMAP ");
    putNumber(&l, drives);
    emit(&run, &l);
    int status;
    long info[4];
    long free = (drives & 4) ? Dfree(info, 3) : -46;
    if (free < 0) {
        l.used = 0;
        put(&l, "READBACK NODRIVE C ");
        putNumber(&l, free);
        emit(&run, &l);
        status = 2;
    } else {
        l.used = 0;
        put(&l, "READBACK DFREE ");
        for (int i = 0; i < 4; ++i) {
            putNumber(&l, info[i]);
            put(&l, i < 3 ? " " : "");
        }
        emit(&run, &l);
        long made = Dcreate(run.dst);
        if (made < 0) error(&run, "mkdir", made);
        walk(&run);
        status = run.failed ? 1 : 0;
    }
    l.used = 0;
    put(&l, "READBACK END ");
    putNumber(&l, (long)run.files);
    put(&l, " ");
    putNumber(&l, (long)run.folders);
    put(&l, " ");
    putNumber(&l, (long)run.bytes);
    put(&l, " ");
    putNumber(&l, status);
    emit(&run, &l);
    if (nfExit) nf_call(nfExit, (long)status);
    return status;
}
