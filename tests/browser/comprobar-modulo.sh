#!/bin/sh
# The web module as a web team gets it: the version is the agent's, `npm pack` holds exactly the module's files, the
# installed package's types compile a page that uses every method under --strict, and the types declare exactly the
# methods the module has.
#
#   tests/browser/comprobar-modulo.sh <sources> <tsc>
set -eu
raiz=$1
tsc=$2
[ -x "$tsc" ] || { echo "falta tsc en $tsc: scripts/instalar-dependencias.sh --pruebas lo instala" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

agente=$(sed -n 's/^project(PluginTornavo VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$raiz/CMakeLists.txt")
modulo=$(node -p "require('$raiz/web/package.json').version")
[ -n "$agente" ] && [ "$modulo" = "$agente" ] || { echo "versión del módulo $modulo, del agente $agente" >&2; exit 1; }

(cd "$tmp" && npm pack --silent "$raiz/web" >/dev/null)
paquete=$tmp/plugin-tornavo-$modulo.tgz
contenido=$(tar tzf "$paquete" | sort | tr '\n' ' ')
esperado="package/README.md package/package.json package/plugin-tornavo.d.ts package/plugin-tornavo.js "
[ "$contenido" = "$esperado" ] || { echo "el paquete contiene: $contenido" >&2; exit 1; }

mkdir "$tmp/pagina"
cp "$raiz/tests/browser/modulo/ejemplo.ts" "$raiz/tests/browser/modulo/tsconfig.json" "$tmp/pagina/"
(cd "$tmp/pagina" && echo '{"private":true}' >package.json &&
    npm install --offline --no-audit --no-fund --loglevel=error "$paquete" >/dev/null && "$tsc" -p .)

# Methods of the class in the module against those in its types.
cd "$tmp/pagina/node_modules/plugin-tornavo"
metodos=$(node --input-type=module -e "
  import { PluginTornavo } from './plugin-tornavo.js';
  console.log(Object.getOwnPropertyNames(PluginTornavo.prototype).filter((n) => n !== 'constructor').sort().join(' '));")
tipos=$(sed -n '/^export declare class PluginTornavo/,/^}/s/^  \([a-zA-Z]*\)(.*/\1/p' plugin-tornavo.d.ts | grep -vx constructor | sort | tr '\n' ' ')
[ "$metodos " = "$tipos" ] || { echo "métodos del módulo: $metodos; de los tipos: $tipos" >&2; exit 1; }
echo "plugin-tornavo $modulo: paquete, tipos y métodos conformes"
