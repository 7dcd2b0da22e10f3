#!/usr/bin/env bash
# Makes the print agent start with every login session of the calling user:
# an XDG autostart entry (~/.config/autostart) and a systemd user unit
# (~/.config/systemd/user), both naming the agent of this build. With a
# running user manager the unit is enabled and started at once. A second
# agent started by the other way ends at once (one agent per session).
#
#   scripts/install-agent.sh [BUILD]          install
#   scripts/install-agent.sh --remove         stop the agent and remove both
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
config=${XDG_CONFIG_HOME:-$HOME/.config}
desktop=$config/autostart/vellumate-agent.desktop
unit=$config/systemd/user/vellumate-agent.service
have_user_manager() { command -v systemctl >/dev/null && systemctl --user show-environment >/dev/null 2>&1; }

if [ "${1:-}" = --remove ]; then
  if have_user_manager; then systemctl --user disable --now vellumate-agent.service >/dev/null 2>&1 || true; fi
  rm -f "$desktop" "$unit"
  exit 0
fi
bin=$(cd "$top/${1:-build}/bin" && pwd)
[ -x "$bin/printagent" ] || { echo "install-agent: $bin/printagent is not built" >&2; exit 1; }
mkdir -p "$(dirname "$desktop")" "$(dirname "$unit")"
fill() { sed -e "s|@PRINTAGENT@|$bin/printagent|g" -e "s|@VMEVENT@|$bin/vmevent|g" -e "s|@DOCUMENTATION@|file://$top/README.md|g" "$1" >"$2"; }
fill "$top/printer/agent/session/vellumate-agent.desktop.in" "$desktop"
fill "$top/printer/agent/session/vellumate-agent.service.in" "$unit"
echo "print agent: autostart entry $desktop"
echo "print agent: user unit       $unit"
if have_user_manager; then
  systemctl --user daemon-reload || true
  systemctl --user enable --now vellumate-agent.service >/dev/null 2>&1 &&
    echo "print agent: started (systemctl --user status vellumate-agent)" ||
    echo "print agent: the unit could not be started; start it with: $bin/printagent &"
else
  echo "print agent: no systemd user manager here; it starts with the next desktop login, or now with: $bin/printagent &"
fi
