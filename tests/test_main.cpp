#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <malloc.h>
#include <new>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Freed memory is filled with 0xDD, so code that goes on using a deleted
// record reads garbage pointers and fails loudly instead of by luck.
void* operator new(size_t size)
{
    void* p = malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void operator delete(void* p) noexcept
{
    if (!p)
        return;
    memset(p, 0xDD, _msize(p));
    free(p);
}

void operator delete(void* p, size_t) noexcept
{
    operator delete(p);
}

int main(int argc, char** argv)
{
    // Wine's console would otherwise turn every \n into \r\n, which ctest
    // reads as part of the test names.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
