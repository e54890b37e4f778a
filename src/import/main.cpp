// cimbrel-import: placeholder entry point, replaced by the program itself.
#include <cstdio>

int main() {
    fputs("cimbrel-import: not built yet\n", stderr);
    return 1;
}
