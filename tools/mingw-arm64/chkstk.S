// __chkstk for Windows on ARM64: a function whose frame is larger than a page calls it first, with
// the frame's size in 16-byte units in x15. Windows grows a thread's stack one guard page at a time,
// so every page of the new frame is touched in order, from the top down, before the frame is used.
// It may use only x16 and x17, and leaves sp to the caller.
    .text
    .balign 4
    .globl __chkstk
__chkstk:
    lsl     x16, x15, #4
    mov     x17, sp
1:
    sub     x17, x17, #4096
    ldr     xzr, [x17]
    subs    x16, x16, #4096
    b.gt    1b
    ret
