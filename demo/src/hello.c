/* A tiny program whose two builds differ a little, as releases do. */
#include <stdio.h>

#ifndef GREETING
#define GREETING "Hello"
#endif

int main(void) {
    printf("%s from version %d\n", GREETING, VERSION);
    return 0;
}
