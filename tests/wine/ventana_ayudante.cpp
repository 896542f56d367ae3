// Looks at and pushes the agent's windows from inside Wine, as Windows itself would: the Linux driver of
// ventana_wine.cpp runs it. Top-level windows captioned "Plugin Tornavo":
//
//   ventana-ayudante ventanas     one line per window: handle, visible, minimised, enabled, foreground, owned,
//                                  client area on the screen (x y width height, physical pixels)
//   ventana-ayudante minimizar    the title bar's minimise button (WM_SYSCOMMAND SC_MINIMIZE) on the main window
//   ventana-ayudante cerrar       the title bar's close button (WM_SYSCOMMAND SC_CLOSE) on the main window
//   ventana-ayudante tecla L      the question's box brought to the front and the key L typed, as a user
//                                  answers it from the keyboard
//
// Exit code 1 when the window is not there.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Ventana
{
    HWND hwnd;
    bool caja; // the question's box: a dialog, without the minimise button of the main window
};

BOOL CALLBACK Juntar(HWND hwnd, LPARAM datos)
{
    wchar_t titulo[64] = {};
    GetWindowTextW(hwnd, titulo, 64);
    if (wcscmp(titulo, L"Plugin Tornavo") == 0) {
        const bool caja = (GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_MINIMIZEBOX) == 0;
        reinterpret_cast<std::vector<Ventana>*>(datos)->push_back({hwnd, caja});
    }
    return TRUE;
}

std::vector<Ventana> Ventanas()
{
    std::vector<Ventana> ventanas;
    EnumWindows(Juntar, reinterpret_cast<LPARAM>(&ventanas));
    return ventanas;
}

HWND Buscar(bool caja)
{
    for (const Ventana& v : Ventanas()) {
        if (v.caja == caja) {
            return v.hwnd;
        }
    }
    return nullptr;
}

void Teclear(WORD tecla)
{
    INPUT entradas[2] = {};
    for (INPUT& entrada : entradas) {
        entrada.type = INPUT_KEYBOARD;
        entrada.ki.wVk = tecla;
    }
    entradas[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, entradas, sizeof(INPUT));
}

} // namespace

int main(int argc, char** argv)
{
    SetProcessDPIAware();
    if (argc < 2) {
        std::fprintf(stderr, "uso: ventana-ayudante ventanas|todas|minimizar|cerrar|tecla L\n");
        return 2;
    }
    const char* orden = argv[1];
    if (std::strcmp(orden, "ventanas") == 0) {
        for (const Ventana& v : Ventanas()) {
            RECT cliente = {};
            GetClientRect(v.hwnd, &cliente);
            POINT origen = {0, 0};
            ClientToScreen(v.hwnd, &origen);
            std::printf("%s %p visible=%d minimizada=%d habilitada=%d frente=%d %ld %ld %ld %ld\n",
                        v.caja ? "caja" : "principal", static_cast<void*>(v.hwnd), IsWindowVisible(v.hwnd) ? 1 : 0,
                        IsIconic(v.hwnd) ? 1 : 0, IsWindowEnabled(v.hwnd) ? 1 : 0,
                        GetForegroundWindow() == v.hwnd ? 1 : 0, origen.x, origen.y, cliente.right, cliente.bottom);
        }
        return 0;
    }
    if (std::strcmp(orden, "todas") == 0) { // every top-level window of the session, for a failure's report
        EnumWindows(
            [](HWND hwnd, LPARAM) -> BOOL {
                wchar_t titulo[96] = {};
                wchar_t clase[96] = {};
                GetWindowTextW(hwnd, titulo, 96);
                GetClassNameW(hwnd, clase, 96);
                DWORD proceso = 0;
                GetWindowThreadProcessId(hwnd, &proceso);
                std::printf("%p pid=%lu visible=%d clase=%ls titulo=%ls\n", static_cast<void*>(hwnd), proceso,
                            IsWindowVisible(hwnd) ? 1 : 0, clase, titulo);
                return TRUE;
            },
            0);
        return 0;
    }
    if (std::strcmp(orden, "minimizar") == 0 || std::strcmp(orden, "cerrar") == 0) {
        const HWND principal = Buscar(false);
        if (principal == nullptr) {
            return 1;
        }
        PostMessageW(principal, WM_SYSCOMMAND, std::strcmp(orden, "cerrar") == 0 ? SC_CLOSE : SC_MINIMIZE, 0);
        return 0;
    }
    if (std::strcmp(orden, "tecla") == 0 && argc == 3) {
        const HWND caja = Buscar(true);
        if (caja == nullptr) {
            return 1;
        }
        // Wine's own "program isn't responding" box may come up in front meanwhile, as Windows' does at a log-off.
        for (int i = 0; i < 40 && GetForegroundWindow() != caja; ++i) {
            SetForegroundWindow(caja);
            Sleep(50);
        }
        if (GetForegroundWindow() != caja) {
            return 1;
        }
        Teclear(static_cast<WORD>(VkKeyScanW(static_cast<wchar_t>(argv[2][0])) & 0xff));
        return 0;
    }
    std::fprintf(stderr, "orden desconocida: %s\n", orden);
    return 2;
}
