#!/bin/sh
# Builds the Windows Installer sample with wixl and msibuild (Debian/Ubuntu: apt-get install wixl
# msitools).
# The defaults build it from the unpacked release archive as it ships; -D overrides any of them:
#
#   integration/wix/build-msi.sh
#   integration/wix/build-msi.sh -D PRODUCT=Quillpen -D PACKAGE_DIR=/build/engine-package
#
#   PRODUCT       the product, as Pelmora records it (no blanks, "/", ":" or "\"); it names the
#                 install folder, Program Files\Quillmark\<PRODUCT>
#   PACKAGE_DIR   the folder with FileList.ini and every engine file it names; all of it is
#                 installed into the product's folder
#   PELMORA_EXE   the program
#   ACTION_DLL    the custom action (PelmoraAction.dll, built from PelmoraAction.c)
#   UPGRADE_CODE  the product's upgrade code (a GUID); by default one derived from PRODUCT
#   VERSION       the product's version (1.0.0); a later one built with the same UPGRADE_CODE
#                 upgrades an installed earlier one (a major upgrade)
#   REMOVE_OLD    where that upgrade removes the earlier version: the sequence number of
#                 RemoveExistingProducts. 1401 (the default): after InstallValidate, before the
#                 new version is installed, as wixl's <MajorUpgrade> does; 6550: after the new
#                 version's actions (where InstallExecute stands in other tools' sequences);
#                 6601: after InstallFinalize. The late ones keep the files that did not change.
#   OUTFILE       the package (<PRODUCT>Setup.msi beside this script)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
PRODUCT=Morvelin
PACKAGE_DIR=$here/../../package
PELMORA_EXE=$here/../../Pelmora.exe
ACTION_DLL=$here/PelmoraAction.dll
UPGRADE_CODE=
VERSION=1.0.0
REMOVE_OLD=1401
OUTFILE=
while [ $# -gt 0 ]; do
    case $1 in
    -D) [ $# -ge 2 ] || { echo "build-msi.sh: -D needs NAME=VALUE" >&2; exit 2; }
        def=$2; shift 2 ;;
    -D*) def=${1#-D}; shift ;;
    *) echo "usage: build-msi.sh [-D NAME=VALUE]..." >&2; exit 2 ;;
    esac
    name=${def%%=*}
    case $name in
    PRODUCT|PACKAGE_DIR|PELMORA_EXE|ACTION_DLL|UPGRADE_CODE|VERSION|REMOVE_OLD|OUTFILE)
        eval "$name=\${def#*=}" ;;
    *) echo "build-msi.sh: unknown name $name" >&2; exit 2 ;;
    esac
done
[ -f "$PACKAGE_DIR/FileList.ini" ] || echo "build-msi.sh: warning: no FileList.ini in $PACKAGE_DIR" >&2
[ -n "$OUTFILE" ] || OUTFILE=$here/${PRODUCT}Setup.msi
if [ -z "$UPGRADE_CODE" ]; then
    h=$(printf 'Quillmark product %s' "$PRODUCT" | md5sum | cut -c1-32)
    UPGRADE_CODE=$(echo "$h" | sed 's/^\(.\{8\}\)\(.\{4\}\)\(.\{4\}\)\(.\{4\}\)/\1-\2-\3-\4-/')
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
abs() { (cd "$(dirname "$1")" && echo "$(pwd)/$(basename "$1")"); }
PACKAGE_DIR=$(cd "$PACKAGE_DIR" && pwd)
PELMORA_EXE=$(abs "$PELMORA_EXE")
ACTION_DLL=$(abs "$ACTION_DLL")
case $OUTFILE in /*) ;; *) OUTFILE=$(pwd)/$OUTFILE ;; esac
# wixl has no wildcard for files: wixl-heat lists the package folder as components.
(cd "$PACKAGE_DIR" && find . -type f | sort) |
    wixl-heat -p ./ --directory-ref INSTALLDIR --component-group EnginePackage \
        --var var.PACKAGE_DIR >"$work/package.wxs"
# wixl takes a source path only relative to its current directory (an absolute one fails), so
# it works from the root with every path written from there.
cd /
wixl -D PRODUCT="$PRODUCT" -D PACKAGE_DIR="${PACKAGE_DIR#/}" -D PELMORA_EXE="${PELMORA_EXE#/}" \
    -D ACTION_DLL="${ACTION_DLL#/}" -D UPGRADE_CODE="$UPGRADE_CODE" -D VERSION="$VERSION" \
    -D REMOVE_OLD="$REMOVE_OLD" \
    -o "$OUTFILE" "$here/ProductSetup.wxs" "$work/package.wxs"
# wixl has no rollback actions (Execute="rollback" builds an immediate one): the undo actions get
# their type here, 3329 = DLL from the Binary table 1 + rollback 256 + in the script 1024 + no
# impersonation 2048.
msibuild "$OUTFILE" -q "UPDATE \`CustomAction\` SET \`Type\` = 3329 WHERE \`Action\` = 'UndoInstallEngine' OR \`Action\` = 'UndoRemoveEngine'"
echo "$OUTFILE"
