#!/usr/bin/env bash
# The user unit the Linux package ships, read by systemd itself as a user's manager reads it: it
# must be accepted without a single warning, restart the show on failure and run it on loop; and
# so must the units its installer writes, for a folder whose name holds a space, % and $.
# Usage: service_unit_test.sh UNIT DEMO_BINARY SCRATCH
set -euo pipefail
unit=$1 demo=$2 scratch=$3
installer=$(dirname "$unit")/install-unattended.sh
command -v systemd-analyze >/dev/null || { echo "no systemd-analyze (scripts/setup.sh installs it)"; exit 77; }
rm -rf "$scratch"
# The package unpacked in a home folder of its own, as the unit expects it.
mkdir -p "$scratch/home/demo-linux-x86_64" "$scratch/run"
chmod 700 "$scratch/run"
cp "$demo" "$scratch/home/demo-linux-x86_64/demo"
cp "$unit" "$scratch/demo.service"
if ! said=$(cd "$scratch" && HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run" \
             systemd-analyze --user verify demo.service 2>&1) || [ -n "$said" ]; then
  echo "systemd-analyze verify: $said"
  exit 1
fi
grep -qx 'Restart=on-failure' "$unit" || { echo "the unit does not restart on failure"; exit 1; }
grep -qx 'ExecStart=.*/demo --loop' "$unit" || { echo "the unit does not run demo --loop"; exit 1; }
grep -qx 'ConditionEnvironment=DISPLAY' "$unit" || { echo "the unit would start without a display"; exit 1; }

# The installer's units (no user manager answers here: it only writes them).
odd="$scratch/home/odd 50% \$HOME"
mkdir -p "$odd"
cp "$demo" "$odd/demo"
cp "$unit" "$installer" "$odd/"
for option in "" --escape-restarts; do
  written="$scratch/home/.config/systemd/user/demo.service"
  HOME="$scratch/home" XDG_CONFIG_HOME= XDG_RUNTIME_DIR="$scratch/run" \
    bash "$odd/install-unattended.sh" $option >/dev/null
  if ! said=$(cd "$scratch" && HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run" \
               systemd-analyze --user verify "$written" 2>&1) || [ -n "$said" ]; then
    echo "systemd-analyze verify (install.sh $option): $said"
    exit 1
  fi
  want=on-failure
  [ -z "$option" ] || want=always
  grep -qx "Restart=$want" "$written" || { echo "install.sh $option did not write Restart=$want"; exit 1; }
done
# A broken unit must fail here too, or the check above proves nothing.
sed 's/^Restart=on-failure$/Restart=sometimes/' "$unit" > "$scratch/demo.service"
said=$(cd "$scratch" && HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run" \
       systemd-analyze --user verify demo.service 2>&1) || true
[ -n "$said" ] || { echo "systemd-analyze verify took a broken unit without a word"; exit 1; }
rm -rf "$scratch"
echo "the unit verifies"
