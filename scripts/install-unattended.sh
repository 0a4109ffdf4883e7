#!/usr/bin/env bash
# Installs the show for an installation, for the user who runs it, from the folder this script
# lies in (the Linux package ships it as install.sh, beside demo and demo.service):
#
#   ./install.sh                    demo.service as a systemd user unit, with this folder's
#                                   paths, enabled with the graphical session (and started now
#                                   where the session's display is known); a failure starts it
#                                   again, Escape ends it
#   ./install.sh --escape-restarts  the same, but a visitor's Escape does not stop the show for
#                                   good: it starts again 3 s later (Restart=always); only
#                                   "systemctl --user stop demo" stops it
#   ./install.sh --autostart        a desktop autostart entry instead (no systemd, no restarts)
#   ./install.sh --remove           removes the unit and the entry
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
config=${XDG_CONFIG_HOME:-$HOME/.config}
unit_dir=$config/systemd/user
autostart=$config/autostart/demo.desktop

usage() { sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
restart=on-failure mode=unit
case "${1:-}" in
  "") ;;
  --escape-restarts) restart=always ;;
  --autostart) mode=autostart ;;
  --remove) mode=remove ;;
  *) usage ;;
esac
[ $# -le 1 ] || usage
case "$here" in
  *$'\n'* | *\\*) echo "install: cannot install from a folder whose path holds a line break or a backslash" >&2; exit 1 ;;
esac

# The user's manager, where one answers (it does not in a bare root shell or over plain ssh).
manager() { systemctl --user "$@"; }
have_manager() { command -v systemctl >/dev/null 2>&1 && systemctl --user show-environment >/dev/null 2>&1; }

# A path as the executable of a unit's command line: quoted, its specifiers escaped (systemd
# expands no variables there, and takes no quote in it at all).
unit_word() {
  printf '"%s"' "${1//%/%%}"
}

# A path as the program of a desktop entry's Exec: quoted, with the entry's own escapes.
exec_word() {
  local s=${1//\\/\\\\\\\\}
  s=${s//\"/\\\\\"}
  s=${s//\`/\\\\\`}
  s=${s//\$/\\\\\$}
  printf '"%s"' "$s"
}

case $mode in
  unit)
    case "$here" in
      *\"* | *\'*) echo "install: systemd runs no program whose path holds a quote; move this folder" >&2; exit 1 ;;
    esac
    mkdir -p "$unit_dir"
    sed -e "s|^ExecStart=.*|ExecStart=$(unit_word "$here/demo" | sed 's/[\\&|]/\\&/g') --loop|" \
        -e "s|^WorkingDirectory=.*|WorkingDirectory=$(printf '%s' "${here//%/%%}" | sed 's/[\\&|]/\\&/g')|" \
        -e "s|^Restart=.*|Restart=$restart|" \
        "$here/demo.service" >"$unit_dir/demo.service"
    echo "install: $unit_dir/demo.service (Restart=$restart)"
    if have_manager; then
      manager daemon-reload
      manager enable demo.service
      manager start demo.service
      if manager show-environment | grep -q '^DISPLAY='; then
        echo "install: enabled and started; it starts with the graphical session from now on"
      else
        echo "install: enabled; it starts with the graphical session from now on"
      fi
    else
      echo "install: no systemd user manager answers here; in the user's session run"
      echo "  systemctl --user daemon-reload && systemctl --user enable --now demo.service"
    fi
    cat <<'EOF'
A kiosk without a desktop (startx, or a bare window manager) reaches no graphical session: its
~/.xinitrc, or its window manager's autostart file, starts the show itself:
  systemctl --user import-environment DISPLAY XAUTHORITY
  systemctl --user start demo.service
EOF
    ;;
  autostart)
    case "$here" in
      *%*) echo "install: desktops read a % in a program's path each their own way; move this folder" >&2; exit 1 ;;
    esac
    mkdir -p "$(dirname "$autostart")"
    cat >"$autostart" <<EOF
[Desktop Entry]
Type=Application
Name=demo
Comment=The show on loop
Exec=$(exec_word "$here/demo") --loop
Terminal=false
EOF
    echo "install: $autostart; the show starts at the next login"
    ;;
  remove)
    if have_manager && [ -f "$unit_dir/demo.service" ]; then
      manager disable --now demo.service || true
    fi
    rm -f "$unit_dir/demo.service" "$autostart"
    have_manager && manager daemon-reload || true
    echo "install: removed"
    ;;
esac
