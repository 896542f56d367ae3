# shellcheck shell=bash
# What the scripts of scripts/, bench/, fuzz/ and tests/ share; each sources it:
#
#   source "$(dirname "$0")/comun.sh"
#
# It sets raiz (the repository) and offers the functions below. TORNAVO_TRABAJOS is how many compile jobs a build
# may run (2 when not set: the machines are shared).

raiz=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Runs a command as root: through sudo when the script is not.
como_root() {
    if [[ $(id -u) -ne 0 ]]; then
        sudo "$@"
    else
        "$@"
    fi
}

trabajos() { echo "${TORNAVO_TRABAJOS:-2}"; }

# configurar CARPETA [opción de cmake ...]: configures the project into CARPETA with Ninja, quietly.
configurar() {
    local carpeta=$1
    shift
    cmake -S "$raiz" -B "$carpeta" -G Ninja "$@" >/dev/null
}

# The test build, build/test: warnings as errors, AddressSanitizer and UndefinedBehaviorSanitizer.
configurar_pruebas() {
    configurar "$raiz/build/test" -DCMAKE_BUILD_TYPE=Debug -DTORNAVO_TESTS=ON -DTORNAVO_WERROR=ON \
        -DTORNAVO_SANITIZERS=ON
}

# construir CARPETA [opción de cmake --build ...]: builds at a low priority, with trabajos jobs.
construir() {
    local carpeta=$1
    shift
    nice -n 10 cmake --build "$carpeta" -j "$(trabajos)" "$@"
}

# The version the top CMakeLists.txt gives the project, e.g. 1.1.0.0.
version_del_proyecto() {
    sed -n 's/^project(PluginTornavo VERSION \([0-9.]*\).*/\1/p' "$raiz/CMakeLists.txt"
}

# A check script's verdicts: falla counts a failure and goes on, bien reports a success, revisar runs a command
# and calls one or the other; fallos holds the count, and exit $((fallos > 0)) ends with it.
fallos=0
falla() {
    echo "FALLA: $*" >&2
    fallos=$((fallos + 1))
}
bien() { echo "bien: $*"; }
revisar() { # revisar DESCRIPCIÓN comando...
    local descripcion=$1
    shift
    if "$@"; then bien "$descripcion"; else falla "$descripcion"; fi
}

# A TCP port on loopback that nothing listens on.
puerto_libre() {
    local p
    while true; do
        p=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
            echo "$p"
            return
        fi
    done
}
