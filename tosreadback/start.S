| Entry of the TOS program and the two NatFeats instructions. TOS starts a
| program with its basepage at 4(sp); the code is position independent, so
| it runs wherever TOS loaded it without a relocation table.
        .section .text.start,"ax"
        .globl  _start
_start:
        move.l  4(%sp),-(%sp)
        bsr     readback_main
        addq.l  #4,%sp
        move.w  %d0,-(%sp)
        move.w  #0x4c,-(%sp)            | Pterm(status)
        trap    #1

| long nf_id(const char *name)
        .globl  nf_id
nf_id:
        .word   0x7300
        rts

| long nf_call(long id, ...)
        .globl  nf_call
nf_call:
        .word   0x7301
        rts

        .section .note.GNU-stack,"",@progbits
