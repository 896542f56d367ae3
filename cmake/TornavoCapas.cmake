# One static library per folder of src/, and the one place that asks which platform the build is for: everything
# else reads TORNAVO_PLATAFORMA (win or unix).
#
#   tornavo_capa(<folder> SOURCES a.cpp a.h ... [PLATFORM topic ...] [LINKS target ...])
#
# Builds tornavo_<folder>. Each PLATFORM topic is <topic>.h with <topic>_win.cpp on Windows and <topic>_unix.cpp
# elsewhere. A library's headers are reached as "<folder>/x.h" through a directory that holds that folder alone, so
# a library (or test) finds the headers of what it links and nothing else: an include against the plan of layers
# fails to compile instead of merely going unnoticed.

if(WIN32)
    set(TORNAVO_PLATAFORMA win)
else()
    set(TORNAVO_PLATAFORMA unix)
endif()

# tornavo_raiz_de_capa(<variable> <build folder> <folder>): where a build lays the include root of a layer.
function(tornavo_raiz_de_capa variable construccion carpeta)
    set(${variable} ${construccion}/capas/${carpeta} PARENT_SCOPE)
endfunction()

function(tornavo_capa carpeta)
    cmake_parse_arguments(C "" "" "SOURCES;PLATFORM;LINKS" ${ARGN})
    set(fuentes ${C_SOURCES})
    foreach(tema ${C_PLATFORM})
        list(APPEND fuentes ${tema}.h ${tema}_${TORNAVO_PLATAFORMA}.cpp)
    endforeach()
    set(objetivo tornavo_${carpeta})
    add_library(${objetivo} STATIC ${fuentes})
    tornavo_raiz_de_capa(raiz ${CMAKE_BINARY_DIR} ${carpeta})
    file(MAKE_DIRECTORY ${raiz})
    if(NOT EXISTS ${raiz}/${carpeta})
        file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${raiz}/${carpeta} SYMBOLIC)
    endif()
    target_include_directories(${objetivo} PUBLIC ${raiz})
    target_link_libraries(${objetivo} PUBLIC ${C_LINKS})
endfunction()

# The Windows executable's version resource and icon.
function(tornavo_recursos_windows objetivo)
    if(NOT TORNAVO_PLATAFORMA STREQUAL win)
        return()
    endif()
    configure_file(${CMAKE_SOURCE_DIR}/src/app/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/generated/version.rc @ONLY)
    target_sources(${objetivo} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated/version.rc
                                       ${CMAKE_SOURCE_DIR}/resources/tornavo.rc)
endfunction()
