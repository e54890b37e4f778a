// cimbrel-report: placeholder entry point, replaced by the program itself.
#include <cstdio>

int main() {
    fputs("cimbrel-report: not built yet\n", stderr);
    return 1;
}
