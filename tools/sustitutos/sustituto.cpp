// A stand-in for an outside program the agent starts on Windows (SumatraPDF, Qendra). Each run leaves, beside the
// executable, a record <exe>.<n>.txt (UTF-8): "linea:" the whole command line as Windows handed it over, "cwd:" the
// working folder, one "arg:" line per argument as a Windows program splits them and, where the environment variable
// TORNAVO_SUSTITUTO_VER names a folder, one "archivo:<name>:<size>" line per file in it when the program started.
// Built with SUSTITUTO_COPIA_ULTIMO, it also copies the file named by its last argument to <exe>.<n>.copia, the way
// SumatraPDF reads the PDF it is told to print. The record appears whole (written aside, then renamed).
#include <windows.h>

#include <shellapi.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& texto)
{
    if (texto.empty()) {
        return {};
    }
    const int largo = WideCharToMultiByte(CP_UTF8, 0, texto.data(), int(texto.size()), nullptr, 0, nullptr, nullptr);
    std::string salida(size_t(largo), '\0');
    WideCharToMultiByte(CP_UTF8, 0, texto.data(), int(texto.size()), salida.data(), largo, nullptr, nullptr);
    return salida;
}

std::wstring Entorno(const wchar_t* nombre)
{
    wchar_t valor[32768];
    const DWORD largo = GetEnvironmentVariableW(nombre, valor, 32768);
    return largo > 0 && largo < 32768 ? std::wstring(valor, largo) : std::wstring();
}

void ListarArchivos(const std::wstring& carpeta, std::string& registro)
{
    WIN32_FIND_DATAW datos;
    const HANDLE busqueda = FindFirstFileW((carpeta + L"\\*").c_str(), &datos);
    if (busqueda == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if ((datos.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            const unsigned long long tamano =
                (static_cast<unsigned long long>(datos.nFileSizeHigh) << 32) | datos.nFileSizeLow;
            registro += "archivo:" + Utf8(datos.cFileName) + ":" + std::to_string(tamano) + "\n";
        }
    } while (FindNextFileW(busqueda, &datos));
    FindClose(busqueda);
}

bool Escribir(const std::wstring& ruta, const std::string& contenido)
{
    const HANDLE archivo = CreateFileW(ruta.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (archivo == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD escritos = 0;
    const bool bien = WriteFile(archivo, contenido.data(), DWORD(contenido.size()), &escritos, nullptr) &&
                      escritos == contenido.size();
    CloseHandle(archivo);
    return bien;
}

} // namespace

int wmain()
{
    wchar_t propio[MAX_PATH];
    const DWORD largoPropio = GetModuleFileNameW(nullptr, propio, MAX_PATH);
    if (largoPropio == 0 || largoPropio >= MAX_PATH) {
        return 2;
    }
    const std::wstring base(propio, largoPropio);

    std::string registro = "linea:" + Utf8(GetCommandLineW()) + "\n";
    wchar_t cwd[MAX_PATH];
    const DWORD largoCwd = GetCurrentDirectoryW(MAX_PATH, cwd);
    registro += "cwd:" + Utf8(std::wstring(cwd, largoCwd)) + "\n";
    int cuantos = 0;
    wchar_t** argumentos = CommandLineToArgvW(GetCommandLineW(), &cuantos);
    for (int i = 1; argumentos != nullptr && i < cuantos; ++i) {
        registro += "arg:" + Utf8(argumentos[i]) + "\n";
    }
    const std::wstring vista = Entorno(L"TORNAVO_SUSTITUTO_VER");
    if (!vista.empty()) {
        ListarArchivos(vista, registro);
    }

    // The first free number: runs that overlap each get their own.
    std::wstring destino;
    int numero = 1;
    for (;; ++numero) {
        destino = base + L"." + std::to_wstring(numero) + L".txt";
        const HANDLE reserva = CreateFileW(destino.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (reserva != INVALID_HANDLE_VALUE) {
            CloseHandle(reserva);
            break;
        }
        if (GetLastError() != ERROR_FILE_EXISTS || numero > 10000) {
            return 3;
        }
    }
    int codigo = 0;
#if defined(SUSTITUTO_COPIA_ULTIMO)
    if (argumentos != nullptr && cuantos > 1 &&
        !CopyFileW(argumentos[cuantos - 1], (base + L"." + std::to_wstring(numero) + L".copia").c_str(), FALSE)) {
        registro += "error:copia " + std::to_string(GetLastError()) + "\n";
        codigo = 4;
    }
#endif
    LocalFree(argumentos);
    const std::wstring aparte = destino + L".tmp";
    if (!Escribir(aparte, registro) || !MoveFileExW(aparte.c_str(), destino.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return 5;
    }
    return codigo;
}
