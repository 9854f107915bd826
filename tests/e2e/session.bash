# Sourced by tests/e2e/run and scripts/run: a private X display and a private 32-bit Wine prefix
# in which Halvenor.exe can be run and its registry state set up and read back.

E2E_KEY='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Atapi\Parameters'
E2E_XVFB_PID=

# Whether this machine can run Wine's 32-bit loader at all: some sandboxes run 64-bit programs
# only, and there nothing under Wine can start Halvenor.exe. Says why on standard error if not.
e2e_can_run_wine() {
    local said
    if said=$(wine --version 2>&1); then
        return 0
    fi
    echo "Wine cannot start on this machine: $said" >&2
    if grep -q 'Exec format error' <<<"$said"; then
        echo "(its kernel does not run 32-bit programs, and Wine runs 32-bit Windows programs through its 32-bit loader)" >&2
    fi
    return 1
}

# Starts Xvfb on the first free display and points DISPLAY at it.
e2e_start_display() {
    local number_file
    number_file=$(mktemp)
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$number_file" >/dev/null 2>&1 &
    E2E_XVFB_PID=$!
    local waited=0
    until [[ -s $number_file ]]; do
        if ((waited++ > 100)) || ! kill -0 "$E2E_XVFB_PID" 2>/dev/null; then
            echo "Xvfb did not start" >&2
            return 1
        fi
        sleep 0.1
    done
    DISPLAY=":$(head -n1 "$number_file")"
    export DISPLAY
    rm -f "$number_file"
}

e2e_stop() {
    if [[ -n ${WINEPREFIX:-} && -d ${WINEPREFIX:-} ]]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
    if [[ -n $E2E_XVFB_PID ]]; then
        kill "$E2E_XVFB_PID" 2>/dev/null || true
        wait "$E2E_XVFB_PID" 2>/dev/null || true
        E2E_XVFB_PID=
    fi
}

# Windows form of a Unix path, through the Z: drive every prefix maps to /.
e2e_zpath() {
    local path
    path=$(realpath -m "$1")
    printf 'Z:%s' "${path//\//\\}"
}

e2e_import() {
    local file
    file=$(mktemp --suffix=.reg)
    { echo REGEDIT4; echo; cat; } >"$file"
    local status=0
    wine reg import "$(e2e_zpath "$file")" >/dev/null 2>&1 || status=$?
    rm -f "$file"
    return $status
}

# Makes (once, then reuses) a prefix under DIR and gives it back its first registry, so every run
# starts from the same state; leaves a wineserver running for the prefix. Never ~/.wine.
# Windows show inside a Wine desktop window of 1024 x 768, or with "own-windows" as windows of
# the X display itself.
e2e_prefix() {
    local dir=$1 windows=${2:-desktop}
    export WINEPREFIX=$dir/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    local stamp
    stamp="$(wine --version), fonts-wine $(dpkg-query -W -f='${Version}' fonts-wine)"
    if [[ $(cat "$dir/prefix.stamp" 2>/dev/null) != "$stamp" ]]; then
        rm -rf "$WINEPREFIX" "$dir/pristine" "$dir/prefix.stamp"
        mkdir -p "$dir"
        wineboot -i >/dev/null 2>&1
        # Debian's Wine 8 looks for its own fonts (fonts-wine) in Z:\usr\share\wine\../fonts,
        # a name it cannot open, and so never finds Marlett, whose glyphs draw the title bar's
        # buttons, nor Tahoma. The Windows font folder is read at every start, as on Windows.
        cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
        # No window manager runs on Xvfb: Wine's own desktop window draws title bars and
        # activates windows the way Windows does. A crash must end the run, not open a dialog.
        e2e_import <<'EOF'
[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
EOF
        wineserver -w
        mkdir -p "$dir/pristine"
        cp "$WINEPREFIX"/*.reg "$dir/pristine/"
        echo "$stamp" >"$dir/prefix.stamp"
    else
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
        cp "$dir/pristine"/*.reg "$WINEPREFIX/"
    fi
    if [[ $windows == own-windows ]]; then
        # The first Wine process opens the desktop as the registry then says, and the desktop
        # stays as it is until the server ends: the server stops, and saves, before any run.
        e2e_import <<<$'[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"Desktop"=-'
        wineserver -k
        wineserver -w
    fi
    wineserver -p
}

# Sets what GetVersionExA reports: a name Wine knows (win95, win98, winme, nt40, win2k, winxp,
# win2003, vista, win7), or "MAJOR.MINOR BUILD [SERVICE PACK TEXT]" taken as written.
e2e_set_windows() {
    local version=$1
    if [[ $version != *.* ]]; then
        e2e_import <<EOF
[HKEY_CURRENT_USER\\Software\\Wine]
"Version"="$version"
EOF
        return
    fi
    local number build csd
    read -r number build csd <<<"$version"
    # Without a version name Wine reports these values; the two numbers would take precedence.
    e2e_import <<EOF
[HKEY_CURRENT_USER\\Software\\Wine]
"Version"=-

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]
"CurrentVersion"="$number"
"CurrentBuildNumber"="$build"
"CSDVersion"="$csd"
"CurrentMajorVersionNumber"=-
"CurrentMinorVersionNumber"=-
EOF
}

# Sets the large-disk value: absent (no Atapi key at all, as in a new prefix), novalue, dword0,
# dword1, binary-short (2 non-zero bytes) or binary-long (8 bytes, the first 4 non-zero).
e2e_set_value() {
    local value
    case $1 in
        absent) e2e_import <<<"[-${E2E_KEY%\\Parameters}]"; return ;;
        novalue) value= ;;
        dword0) value='"EnableBigLba"=dword:00000000' ;;
        dword1) value='"EnableBigLba"=dword:00000001' ;;
        binary-short) value='"EnableBigLba"=hex:01,00' ;;
        binary-long) value='"EnableBigLba"=hex:01,00,00,00,00,00,00,00' ;;
        *) echo "unknown value state $1" >&2; return 1 ;;
    esac
    printf '[-%s]\n\n[%s]\n%s\n' "$E2E_KEY" "$E2E_KEY" "$value" | e2e_import
}

# The value as driver.exe reads it: "TYPE HEX-BYTES", "no value" or "no key".
e2e_value_state() {
    wine "$1" --show-value | tr -d '\r'
}
