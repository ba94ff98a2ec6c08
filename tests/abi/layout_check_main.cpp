// Fails (exit 1) when an operation of a boundary interface is not at the contract's position
// under the compiler that built this program, and under the Microsoft ABI where that part is
// linked in. Run by the build, so that a header that moves an operation fails it.
#include <cstdio>
#include <cstring>

extern "C" int TavrinCheckLayout(void (*report)(const char*), int* checked);
#if defined(TAVRIN_LAYOUT_MSABI)
extern "C" int TavrinCheckLayoutMsAbi(void (*report)(const char*), int* checked);
#endif

namespace {

bool verbose = false;

void Report(const char* line) {
    if (verbose || std::strstr(line, "WRONG"))
        std::printf("  %s\n", line);
}

int Run(const char* abi, int (*check)(void (*)(const char*), int*)) {
    int checked = 0;
    std::printf("%s: operation contract actual\n", abi);
    int wrong = check(Report, &checked);
    std::printf("%s: %d of %d operations at the contract's position\n", abi, checked - wrong,
                checked);
    return wrong;
}

}  // namespace

int main(int argc, char** argv) {
    verbose = argc > 1 && std::strcmp(argv[1], "--all") == 0;
    int wrong = Run("this compiler", TavrinCheckLayout);
#if defined(TAVRIN_LAYOUT_MSABI)
    wrong += Run("Microsoft ABI", TavrinCheckLayoutMsAbi);
#endif
    return wrong ? 1 : 0;
}
