# What the Windows build adds: the stand-in programs, the tests that run under Wine and the ones that cannot.
# Included from the top-level CMakeLists.txt on every platform; outside Windows it only defines empty lists.

# Test folders and suites left out of the Windows build, with why. One place, read by tests/CMakeLists.txt.
#   e2e, browser    start the Linux agent (and Chromium, CUPS, pseudo-terminals); tests/wine drives the Windows one
#   tst_cups        a private CUPS scheduler
#   tst_principal   its scale is a pseudo-terminal opened in-process (posix_openpt)
set(TORNAVO_SOLO_LINUX "")
if(WIN32)
    set(TORNAVO_SOLO_LINUX e2e browser tst_cups tst_principal)
endif()

if(NOT WIN32)
    return()
endif()

# Test functions whose expectations are Linux's, left out under Windows (TORNAVO_OMITIR_<suite>, comma-separated).
# None of them is an agent fault; tests/wine/e2e_wine.cpp checks the same ground on Windows through the real agent
# and real Windows stand-ins (tools/sustitutos).
#   sh     the stand-in is a shell script. Windows starts only programs (and appends .exe to a name without one);
#          Wine also starts Linux scripts named .exe, so such a case passing under Wine would prove nothing
#   errno  the expected codes are errno values; Windows reports ERROR_BAD_EXE_FORMAT (193) and ERROR_DIRECTORY (267)
#   HOME   the default data folder is $HOME/tornavo on Linux, C:/tornavo/ on Windows
#   lp     lp is the Linux printer (quoted for sh); Windows prints through SumatraPDF
set(TORNAVO_OMITIR_tst_entrega_csv
    "IniciaConArgumentosYCarpeta,CodigoDelInicioFallido,EjecutarProgramaRegistraElFallo,EntradaYSalidaDeUnProgramaObservado,QendraIniciado,CarpetasPorDefecto")
set(TORNAVO_OMITIR_tst_impresion "SumatraReal,FormasDeLp,LpFallaDespues")

add_subdirectory(${CMAKE_SOURCE_DIR}/tools/sustitutos ${CMAKE_BINARY_DIR}/tools/sustitutos)

if(NOT TORNAVO_TESTS)
    return()
endif()

# The Qt the tests link, for the Wine runner's WINEPATH and QT_PLUGIN_PATH.
get_filename_component(TORNAVO_QT_PREFIJO "${Qt6_DIR}/../../.." ABSOLUTE)
set(TORNAVO_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix the Windows tests run in")
if(CMAKE_CROSSCOMPILING)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_SOURCE_DIR}/tests/wine/ejecutar-en-wine.sh ${TORNAVO_QT_PREFIJO} ${TORNAVO_WINEPREFIX})
endif()
