# Sourced by the tests that run the unpacked SDK under Wine, as a new user's machine runs it: a
# Wine prefix of the test's own, made fresh in WORK/wineprefix and removed, with its server, when
# the test ends. Needs source_dir and work set. Gives:
#   windows_path PATH            the Windows name of a Unix path (Z:\...)
#   wine_in FOLDER COMMAND...    COMMAND under Wine with FOLDER/temp as its temporary directory
#                                (Wine otherwise takes TMP and TEMP from its registry)
export WINEPREFIX="$work/wineprefix"
source "$source_dir/scripts/wine-env.sh"
rm -rf "$WINEPREFIX"
trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; rm -rf "$WINEPREFIX"' EXIT
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1

windows_path() { local path; path=$(realpath -m "$1"); echo "Z:${path//\//\\}"; }
wine_in() {
  local temp
  mkdir -p "$1/temp"
  temp=$(windows_path "$1/temp")
  shift
  wine cmd /c "set TMP=$temp&& set TEMP=$temp&& $*" </dev/null
}
