# The licence agreement, embedded byte for byte and terminated by a zero byte.
    .section .rdata,"dr"
    .globl _AgreementText
_AgreementText:
    .incbin AGREEMENT_FILE
    .byte 0
