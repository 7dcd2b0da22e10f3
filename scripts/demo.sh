#!/usr/bin/env bash
# Registers the in-process servers into the user's registry folder and converts
# the bundled samples into out/.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bin=$build/bin
lib=$build/lib
for so in "$lib"/libcorvanth.so "$lib"/libtessaline.so "$lib"/libnavlet.so "$lib"/libvmoffice.so; do
  [ -f "$so" ] && [ -x "$bin/regsvr" ] && "$bin/regsvr" "$so"
done
# The browser button starts the converter named here (the installer's job).
if [ -f "$lib/libnavlet.so" ] && [ -x "$bin/reg" ] && [ -x "$bin/vellumate" ]; then
  "$bin/reg" add 'HKCU\Software\Brindlecote\Tessaline Plugin' /v ConverterPath /d "$(readlink -f "$bin/vellumate")" /f >/dev/null
  echo "browser button: load the extension $top/plugin/extension (see README.md)"
fi
# The print agent starts with every login session.
[ -x "$bin/printagent" ] && scripts/install-agent.sh "$build"
mkdir -p out
# The desktop entry (with the MIME types vellumate opens) and its icon, for this build.
if [ -x "$bin/vellumate" ]; then
  data=${XDG_DATA_HOME:-$HOME/.local/share}
  mkdir -p "$data/applications" "$data/icons/hicolor/scalable/apps"
  exe=$(readlink -f "$bin/vellumate")
  sed "s|^Exec=vellumate|Exec=\"$exe\"|" converter/ui/vellumate.desktop > "$data/applications/vellumate.desktop"
  cp converter/ui/vellumate.svg "$data/icons/hicolor/scalable/apps/vellumate.svg"
  command -v update-desktop-database >/dev/null && update-desktop-database -q "$data/applications" || true
  echo "installed $data/applications/vellumate.desktop"
fi
if [ -x "$bin/vellumate" ]; then
  export VELLUMATE_UI=none
  # The suite's own help file (built beside the programs) is a compiled help file too.
  for f in samples/* "$bin/help.chm"; do
    [ -f "$f" ] || continue
    name=$(basename "$f")
    abs=$(readlink -f "$f")
    if "$bin/vellumate" "$abs" "$top/out/$name.pdf"; then
      echo "converted $f -> out/$name.pdf"
    else
      echo "failed    $f (exit status $?)"
    fi
  done
else
  for p in "$bin"/*; do [ -x "$p" ] && echo "built: $p"; done
fi

# The printer "Vellumate" (CUPS queue and backend).
bash "$top/scripts/demo_printer.sh" "$build"
# Office documents through that chain (a private print service of its own).
bash "$top/scripts/demo_office.sh" "$build"
