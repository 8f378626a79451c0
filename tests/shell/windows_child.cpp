// Another process with top-level windows: one per title given, each on a
// thread of its own; a title starting with "hidden:" makes an invisible one.
// When a thread's loop gets WM_QUIT it appends "quit <title>" to the log
// (argument 1). It writes "ready" once every window exists.
#include <windows.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {
const char* LogPath;
CRITICAL_SECTION LogLock;

void Log(const std::string& line)
{
    EnterCriticalSection(&LogLock);
    if (FILE* out = fopen(LogPath, "a")) {
        fprintf(out, "%s\n", line.c_str());
        fclose(out);
    }
    LeaveCriticalSection(&LogLock);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    LogPath = argv[1];
    InitializeCriticalSection(&LogLock);
    std::vector<std::thread> threads;
    volatile LONG made = 0;
    for (int i = 2; i < argc; ++i) {
        threads.emplace_back([&made, title = std::string(argv[i])] {
            bool hidden = title.rfind("hidden:", 0) == 0;
            std::string text = hidden ? title.substr(7) : title;
            HWND window = CreateWindowExA(0, "STATIC", text.c_str(), WS_POPUP | (hidden ? 0 : WS_VISIBLE), 0, 0, 50,
                20, nullptr, nullptr, nullptr, nullptr);
            InterlockedIncrement(&made);
            MSG message;
            BOOL got;
            while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0)
                DispatchMessageA(&message);
            if (got == 0)
                Log("quit " + text);
            DestroyWindow(window);
        });
    }
    while (made < argc - 2)
        Sleep(10);
    Log("ready");
    for (std::thread& thread : threads)
        thread.join();
    return 0;
}
