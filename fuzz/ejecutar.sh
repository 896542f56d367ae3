#!/usr/bin/env bash
# Builds the fuzz targets and runs each one in turn for the given number of seconds (600 when not given), then
# prints one summary line per target. Installs what is missing first (clang and libclang-rt-14-dev among it).
#
#   fuzz/ejecutar.sh [seconds] [target ...]
#
# Build folder: build/fuzz (FUZZ_BUILD overrides it). The growing corpus of each target lives in
# build/fuzz/corpus/<target> (the seeds in fuzz/corpus are never written to); crashes and their logs go to
# build/fuzz/hallazgos/<target>. The exit status is 1 when any target found something.
set -euo pipefail

segundos=${1:-600}
if [[ $# -gt 0 ]]; then shift; fi
source "$(dirname "$0")/../scripts/comun.sh"
build=${FUZZ_BUILD:-$raiz/build/fuzz}
objetivos=${*:-fuzz_solicitud fuzz_ini fuzz_peso fuzz_documentos}

# The normal build's packages, and clang with libFuzzer and the sanitizer runtimes.
"$raiz/scripts/instalar-dependencias.sh" clang libclang-rt-14-dev

cmake -S "$raiz/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
construir "$build"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export LSAN_OPTIONS="suppressions=$raiz/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
# The targets' temporary folders, removed after each run (a crash leaves its folder behind). On tmpfs when there is
# one: every saved file is synced to disk, which would slow the targets that write files tenfold.
if [[ -d /dev/shm && -w /dev/shm ]]; then
    export TMPDIR=/dev/shm/tornavo-fuzz
else
    export TMPDIR="$build/tmp"
fi

resumen=""
fallos=0
for objetivo in $objetivos; do
    corpus="$build/corpus/$objetivo"
    hallazgos="$build/hallazgos/$objetivo"
    mkdir -p "$corpus" "$hallazgos" "$TMPDIR"
    registro="$hallazgos/ultimo.log"
    diccionario=()
    if [[ -f "$raiz/fuzz/$objetivo.dict" ]]; then
        diccionario=(-dict="$raiz/fuzz/$objetivo.dict")
    fi
    echo "== $objetivo: $segundos s"
    estado=0
    inicio=$SECONDS
    # One process, one thread: the machine is shared (libFuzzer's -jobs would fork and redirect the output).
    "$build/$objetivo" -max_total_time="$segundos" -timeout=10 -rss_limit_mb=2048 \
        -max_len=8192 -print_final_stats=1 "${diccionario[@]}" -artifact_prefix="$hallazgos/" \
        "$corpus" "$raiz/fuzz/corpus/$objetivo" >"$registro" 2>&1 || estado=$?
    duracion=$((SECONDS - inicio))
    rm -rf "$TMPDIR"/tornavo-fuzz-*
    ejecuciones=$(sed -n 's/^stat::number_of_executed_units: *//p' "$registro" | tail -n 1)
    cobertura=$(grep -o 'cov: [0-9]*' "$registro" | tail -n 1 | cut -d" " -f2 || true)
    rasgos=$(grep -o 'ft: [0-9]*' "$registro" | tail -n 1 | cut -d" " -f2 || true)
    unidades=$(find "$corpus" -type f | wc -l)
    if [[ $estado -eq 0 ]]; then
        veredicto="limpio"
    else
        veredicto="FALLA (código $estado, ver $registro y $hallazgos)"
        fallos=1
    fi
    linea="$objetivo: ${duracion}s, ${ejecuciones:-?} ejecuciones, cov ${cobertura:-?}, ft ${rasgos:-?}, corpus $unidades: $veredicto"
    echo "$linea"
    resumen="$resumen$linea
"
done

echo
echo "== Resumen"
printf '%s' "$resumen"
exit $fallos
