/* Exits 0 if this kernel lets a 64-bit process run 32-bit code, as Wine's WoW64 mode does for
 * every 32-bit Windows program: a far return into the 32-bit user code segment, one
 * instruction there, and a far return back. A kernel without 32-bit support (or with it
 * switched off, ia32_emulation=off) refuses the segment, and the process dies of SIGSEGV. */
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>

int main(void) {
    /* 32-bit code and stack must lie below 4 GB. */
    unsigned char *low = mmap((void *)0x10000000, 8192, PROT_READ | PROT_WRITE | PROT_EXEC,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (low == MAP_FAILED) return 2;
    static const unsigned char code[] = {0xB8, 42, 0, 0, 0, /* mov eax, 42 */
                                         0xCB};             /* retf, back to the 64-bit segment */
    for (unsigned i = 0; i < sizeof code; ++i) low[i] = code[i];
    uint32_t result;
    __asm__ volatile(
        "mov %%rsp, %%r12\n\t"
        "mov %2, %%rsp\n\t"
        "lea 1f(%%rip), %%rbx\n\t"
        "sub $8, %%rsp\n\t"
        "movl $0x33, 4(%%rsp)\n\t" /* the 32-bit retf pops EIP, then CS */
        "movl %%ebx, 0(%%rsp)\n\t"
        "pushq $0x23\n\t" /* Linux's 32-bit user code segment */
        "pushq %1\n\t"
        "lretq\n"
        "1:\n\t"
        "mov %%r12, %%rsp\n\t"
        : "=a"(result)
        : "r"((uint64_t)low), "r"((uint64_t)low + 8000)
        : "rbx", "r12", "memory");
    printf("32-bit code ran: %u\n", result);
    return result == 42 ? 0 : 1;
}
