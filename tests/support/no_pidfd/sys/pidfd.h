#error "this C library has no sys/pidfd.h"
