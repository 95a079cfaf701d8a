// The image bank's pictures: the blob that starglobe-pack-images made from assets/ at build
// time (IMAGE_BANK_BLOB, its path), 45 pictures of 360,000 bytes each, blue, green, red,
// rows top to bottom. Read-only and used in place.
#define PICTURE_BYTES 360000
#define PICTURE_COUNT 45

    .section .rodata
    .balign 64
    .globl starglobe_pictures
    .hidden starglobe_pictures
    .type starglobe_pictures, @object
starglobe_pictures:
    .incbin IMAGE_BANK_BLOB
starglobe_pictures_end:
    .size starglobe_pictures, starglobe_pictures_end - starglobe_pictures

// A blob of the wrong size would shift every picture: stop the build instead.
    .if (starglobe_pictures_end - starglobe_pictures) - (PICTURE_BYTES * PICTURE_COUNT)
    .error "image bank blob is not 45 pictures of 400 x 300 x 3 bytes"
    .endif

// No executable stack for the program because of this file.
    .section .note.GNU-stack, "", @progbits
