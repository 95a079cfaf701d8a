// The image bank's pictures: the blob that starglobe-pack-images made from assets/ at build
// time (IMAGE_BANK_BLOB, its path), kPictureCount pictures of kImageBytes each, blue, green,
// red, rows top to bottom. The packer writes exactly that many bytes or fails the build.
// Read-only and used in place.

    .section .rodata
    .balign 64
    .globl starglobe_pictures
    .hidden starglobe_pictures
    .type starglobe_pictures, @object
starglobe_pictures:
    .incbin IMAGE_BANK_BLOB
starglobe_pictures_end:
    .size starglobe_pictures, starglobe_pictures_end - starglobe_pictures

// No executable stack for the program because of this file.
    .section .note.GNU-stack, "", @progbits
