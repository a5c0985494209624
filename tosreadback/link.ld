/* A TOS program file: the 28-byte header, then one block of code and
   read-only strings. The code is position independent and keeps every
   variable on its stack, so the file has no data, no bss and no relocation
   table (the header's last word, nonzero, says so). */
OUTPUT_ARCH(m68k)
ENTRY(_start)
SECTIONS
{
  . = 0;
  .header : {
    SHORT(0x601a)
    LONG(_text_end - _text_start)  /* text */
    LONG(0)                        /* data */
    LONG(0)                        /* bss */
    LONG(0)                        /* symbols */
    LONG(0)                        /* reserved */
    LONG(0)                        /* flags */
    SHORT(1)                       /* no relocation */
  }
  .text : {
    _text_start = .;
    *(.text.start) *(.text) *(.text.*) *(.rodata) *(.rodata.*)
    . = ALIGN(2);
    _text_end = .;
  }
  .data : { *(.data) *(.data.*) *(.bss) *(.bss.*) *(COMMON) *(.got) *(.got.plt) }
  /DISCARD/ : { *(.comment) *(.note*) *(.eh_frame*) }
}
ASSERT(SIZEOF(.data) == 0, "the TOS program must keep its variables on the stack")
