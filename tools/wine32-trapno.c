/* Preloaded into the 32-bit Wine under qemu-i386: QEMU hands a page fault to the program's
 * SIGSEGV handler with a wrong trap number, and Wine then raises an illegal instruction
 * (0xC000001D) where Windows raises an access violation (0xC0000005). This sets the page
 * fault's trap number before Wine's handler reads it. Built without any i386 C library or
 * headers (tools/wine32-setup.sh), so the few types it needs are spelled out here. */

#define SIGSEGV 11
#define SA_SIGINFO 4
#define SEGV_MAPERR 1
#define SEGV_ACCERR 2
#define TRAP_PAGE_FAULT 14
#define RTLD_NEXT ((void*)-1)

typedef void (*handler_t)(int, void*, void*);

/* glibc's struct sigaction on i386. */
struct i386_sigaction {
    handler_t handler;
    unsigned long mask[32];
    int flags;
    void (*restorer)(void);
};

/* The start of siginfo_t and of ucontext_t on i386. */
struct i386_siginfo {
    int signo;
    int error;
    int code;
};
struct i386_ucontext {
    unsigned long flags;
    void* link;
    void* stack_sp;
    int stack_flags;
    unsigned long stack_size;
    unsigned long gregs[19]; /* REG_TRAPNO is 12 */
};

extern void* dlsym(void* handle, const char* name);

static handler_t program_handler;

static void fix_trap_number(int sig, void* info, void* context) {
    const struct i386_siginfo* si = info;
    struct i386_ucontext* uc = context;
    if (si && uc && (si->code == SEGV_MAPERR || si->code == SEGV_ACCERR))
        uc->gregs[12] = TRAP_PAGE_FAULT;
    program_handler(sig, info, context);
}

int sigaction(int sig, const struct i386_sigaction* act, struct i386_sigaction* old) {
    static int (*next)(int, const struct i386_sigaction*, struct i386_sigaction*);
    if (!next)
        next = (int (*)(int, const struct i386_sigaction*, struct i386_sigaction*))dlsym(
            RTLD_NEXT, "sigaction");
    if (sig == SIGSEGV && act && (act->flags & SA_SIGINFO) && act->handler != fix_trap_number) {
        struct i386_sigaction wrapped = *act;
        program_handler = act->handler;
        wrapped.handler = fix_trap_number;
        return next(sig, &wrapped, old);
    }
    return next(sig, act, old);
}
