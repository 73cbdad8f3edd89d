/* Preloaded into every 32-bit Wine process that runs under qemu-i386 (see
 * scripts/wine32, which builds it and lists it in the emulated
 * /etc/ld.so.preload).
 *
 * qemu 7.2 leaves the trap number of the signal frames it builds at -1, and
 * Wine's fault handlers decide what a fault is by that number: every page
 * fault turns into an illegal instruction, so a fault Wine means to handle
 * ends the process instead (helpers such as the desktop's explorer.exe died
 * at random that way). This wraps the handlers Wine installs and fills in the
 * trap number the signal implies before Wine's handler reads it.
 *
 * Built freestanding with the host compiler (-m32 -nostdlib), so no 32-bit
 * development packages are needed; everything below is spelt out for i386
 * and glibc. The wrapper must not touch %fs or %gs (no TLS, no stack
 * protector): a signal may arrive with Windows' selectors loaded. */

typedef void (*info_handler)(int, void *, void *);

/* glibc's struct sigaction on i386. */
struct libc_sigaction {
    info_handler handler;
    unsigned long mask[32];
    int flags;
    void (*restorer)(void);
};

struct signal_info {
    int signo, error, code;
};

enum { SIG_ILL = 4, SIG_BUS = 7, SIG_FPE = 8, SIG_SEGV = 11, SA_INFO = 4, MAX_SIGNAL = 65 };
/* The i386 ucontext: flags, link, a 12-byte stack_t, then gregs[]. */
enum { GREGS_OFFSET = 20, REG_TRAPNO = 12 };
enum { TRAP_DIVIDE = 0, TRAP_ILLEGAL = 6, TRAP_PROTECTION = 13, TRAP_PAGE = 14, TRAP_FPU = 16,
       TRAP_ALIGNMENT = 17 };

void *dlsym(void *handle, const char *name);
#define RTLD_NEXT ((void *)-1)

static info_handler wine_handlers[MAX_SIGNAL];
static int (*next_sigaction)(int, const struct libc_sigaction *, struct libc_sigaction *);

static int wrapped(int sig) {
    return sig == SIG_SEGV || sig == SIG_ILL || sig == SIG_BUS || sig == SIG_FPE;
}

static int trap_of(int sig, const struct signal_info *info) {
    switch (sig) {
    case SIG_SEGV:  /* SEGV_MAPERR and SEGV_ACCERR come from page faults */
        return info->code == 1 || info->code == 2 ? TRAP_PAGE : TRAP_PROTECTION;
    case SIG_FPE:  /* FPE_INTDIV and FPE_INTOVF come from integer division */
        return info->code == 1 || info->code == 2 ? TRAP_DIVIDE : TRAP_FPU;
    case SIG_BUS:
        return TRAP_ALIGNMENT;
    default:
        return TRAP_ILLEGAL;
    }
}

__attribute__((force_align_arg_pointer)) static void with_trap_number(int sig, void *info,
                                                                      void *context) {
    int *gregs = (int *)((char *)context + GREGS_OFFSET);
    if (gregs[REG_TRAPNO] == -1) gregs[REG_TRAPNO] = trap_of(sig, info);
    wine_handlers[sig](sig, info, context);
}

int sigaction(int sig, const struct libc_sigaction *act, struct libc_sigaction *old) {
    if (!next_sigaction) {
        next_sigaction = (int (*)(int, const struct libc_sigaction *, struct libc_sigaction *))
            dlsym(RTLD_NEXT, "sigaction");
        if (!next_sigaction) return -1;
    }
    if (sig <= 0 || sig >= MAX_SIGNAL || !wrapped(sig)) return next_sigaction(sig, act, old);

    const info_handler previous = wine_handlers[sig];
    struct libc_sigaction mine;
    if (act && (act->flags & SA_INFO)) {
        mine = *act;
        mine.handler = with_trap_number;
        /* Set before the wrapper is installed: a signal may come at once. */
        wine_handlers[sig] = act->handler;
        act = &mine;
    }
    const int result = next_sigaction(sig, act, old);
    if (result != 0) wine_handlers[sig] = previous;
    if (result == 0 && old && old->handler == with_trap_number) old->handler = previous;
    return result;
}
