/* Preloaded into the 32-bit Wine processes that run under qemu-i386 user-mode emulation.

   qemu 7.2 ignores MAP_FIXED_NOREPLACE: where the asked range is taken it maps the
   block somewhere else instead of failing with EEXIST. Wine's 32-bit ntdll asks for its
   address-space reservations that way, keeps what it is given, and ends up probing the
   upper 2 GB 64 KiB at a time: tens of thousands of mmap calls at every process start.
   This mmap gives the kernel's answer again: a block that did not land at the asked
   address is unmapped and the call fails with EEXIST.

   Freestanding (no C library headers or start files) so that it builds with the 64-bit
   compiler alone: gcc -m32 -ffreestanding -nostdlib -shared. Built for x86_64 it is
   empty: the scripts preload it through $LIB, which names the 64-bit copy in 64-bit
   processes, and those need nothing mended. */

#if defined(__i386__)

#define HM_SYS_MUNMAP 91
#define HM_SYS_MMAP2 192
#define HM_MAP_FIXED_NOREPLACE 0x100000
#define HM_EEXIST 17
#define HM_EINVAL 22
#define HM_PAGE_SHIFT 12
#define HM_MAP_FAILED ((void *)-1)

typedef unsigned int hm_size;

extern int *__errno_location(void); /* the C library's, resolved when loaded */

/* The i386 system-call entry: number in eax, arguments in ebx, ecx, edx, esi, edi, ebp.
   Written out in assembly so that no register the compiler reserves (ebx for PIC, ebp
   for the frame) has to be named in a constraint. */
long hm_syscall6(long number, long a1, long a2, long a3, long a4, long a5, long a6);
__asm__(".text\n"
        ".globl hm_syscall6\n"
        ".hidden hm_syscall6\n"
        ".type hm_syscall6,@function\n"
        "hm_syscall6:\n"
        "  push %ebp\n"
        "  push %edi\n"
        "  push %esi\n"
        "  push %ebx\n"
        "  mov 20(%esp), %eax\n"
        "  mov 24(%esp), %ebx\n"
        "  mov 28(%esp), %ecx\n"
        "  mov 32(%esp), %edx\n"
        "  mov 36(%esp), %esi\n"
        "  mov 40(%esp), %edi\n"
        "  mov 44(%esp), %ebp\n"
        "  int $0x80\n"
        "  pop %ebx\n"
        "  pop %esi\n"
        "  pop %edi\n"
        "  pop %ebp\n"
        "  ret\n"
        ".size hm_syscall6, .-hm_syscall6\n");

static int hm_is_error(long result) { return (unsigned long)result >= (unsigned long)-4095; }

static void *hm_fail(int error) {
    *__errno_location() = error;
    return HM_MAP_FAILED;
}

static void *hm_mmap(void *addr, hm_size length, int prot, int flags, int fd,
                     unsigned long long offset) {
    if (offset & ((1u << HM_PAGE_SHIFT) - 1)) return hm_fail(HM_EINVAL);
    long result = hm_syscall6(HM_SYS_MMAP2, (long)addr, (long)length, prot, flags, fd,
                              (long)(offset >> HM_PAGE_SHIFT));
    if (hm_is_error(result)) return hm_fail((int)-result);
    if ((flags & HM_MAP_FIXED_NOREPLACE) && (void *)result != addr) {
        hm_syscall6(HM_SYS_MUNMAP, result, (long)length, 0, 0, 0, 0);
        return hm_fail(HM_EEXIST);
    }
    return (void *)result;
}

__attribute__((visibility("default"))) void *mmap(void *addr, hm_size length, int prot,
                                                  int flags, int fd, long offset) {
    if (offset < 0) return hm_fail(HM_EINVAL);
    return hm_mmap(addr, length, prot, flags, fd, (unsigned long long)(unsigned long)offset);
}

__attribute__((visibility("default"))) void *mmap64(void *addr, hm_size length, int prot,
                                                    int flags, int fd, long long offset) {
    if (offset < 0) return hm_fail(HM_EINVAL);
    return hm_mmap(addr, length, prot, flags, fd, (unsigned long long)offset);
}

#endif
