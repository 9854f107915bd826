# Sourced by tests/e2e/run, scripts/run and scripts/figures: a private X display and a private
# Wine prefix in which Halvenor.exe can be run and its registry state set up and read back,
# under either of two Wines (e2e_route picks one and where it runs):
#   host32  the host's own Wine (8 on Debian 12, 10 on Debian 13) in a 32-bit prefix. Its loader
#           is a 32-bit Linux program, so it runs only where the kernel runs those.
#   wow64   Debian's Wine 10 in WoW64 mode in a 64-bit prefix, from the root wine/bootstrap
#           builds: 32-bit Windows code inside a 64-bit Linux process, as 64-bit Windows runs
#           the program. Where the kernel runs no 32-bit code at all, it runs inside the
#           emulated machine (wine/machine).

E2E_KEY='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Atapi\Parameters'
E2E_XVFB_PID=
E2E_TOP=$(realpath -m "$(dirname "${BASH_SOURCE[0]}")/..")

# Selects the Wine for what follows: its programs first on PATH, its kind of prefix.
e2e_use_wine() {
    E2E_WINE=$1
    case $1 in
        host32) export WINEARCH=win32 ;;
        wow64) export WINEARCH=win64 PATH=$E2E_TOP/build/wine10/bin:$PATH ;;
        *) echo "unknown Wine $1 (host32 or wow64)" >&2; return 1 ;;
    esac
}

# Selects the Wine for WINE (host32, wow64, or any: host32 where it runs outside the emulated
# machine, else wow64) and sets E2E_ROUTE to where it runs Halvenor.exe: here (in the emulated
# machine too, when this is it), machine (only there, where the caller runs itself again through
# wine/machine: the kernel here runs no 32-bit code), or none, saying why on standard error.
# The host's 32-bit Wine never goes there: its rows would double Wine 10's nine minutes there.
e2e_route() {
    local said
    E2E_ROUTE=none
    if [[ $1 == any ]]; then
        [[ -n ${E2E_IN_MACHINE:-} ]] || e2e_route host32 2>/dev/null
        [[ $E2E_ROUTE == here ]] || e2e_route wow64
        return
    fi
    e2e_use_wine "$1" || return 1
    if ! said=$(wine --version 2>&1); then
        echo "$E2E_WINE cannot start on this machine: $said" >&2
        if grep -q 'Exec format error' <<<"$said"; then
            echo "(its kernel does not run 32-bit programs, and this Wine starts 32-bit Windows programs through its 32-bit loader)" >&2
        fi
    elif [[ $E2E_WINE == wow64 ]] && ! { "$E2E_TOP/build/e2e-probe/compat32"; } >/dev/null 2>&1; then
        echo "$E2E_WINE cannot run 32-bit code here: the kernel refuses a 64-bit process's far return into its 32-bit code segment (build/e2e-probe/compat32)" >&2
        [[ -n ${E2E_IN_MACHINE:-} ]] || E2E_ROUTE=machine
    else
        E2E_ROUTE=here
    fi
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

# Makes (once, then reuses) a prefix of the selected Wine under DIR and gives it back its first
# registry, so every run starts from the same state; leaves a wineserver running for the
# prefix. Never ~/.wine.
# Windows show inside a Wine desktop window of 1024 x 768, or with "own-windows" as windows of
# the X display itself.
e2e_prefix() {
    local dir=$1 windows=${2:-desktop}
    export WINEPREFIX=$dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # In the emulated machine every file written under the project crosses 9P: a new Wine 10
    # prefix, 1.2 GB of copied DLLs, takes some 200 s there and 90 s in the machine's memory.
    # So it is made anew in memory for each run there; a prefix made outside is never used.
    [[ -z ${E2E_IN_MACHINE:-} ]] || WINEPREFIX=/tmp/e2e$dir/prefix
    E2E_PRISTINE=$dir/pristine
    local fonts=/usr/share/wine/fonts stamp
    [[ $E2E_WINE == host32 ]] || fonts=$E2E_TOP/build/wine10/root/usr/share/wine/fonts
    stamp="$(wine --version), $WINEARCH, fonts $(cat "$fonts"/* | md5sum | cut -c1-16)"
    if [[ $(cat "$dir/prefix.stamp" 2>/dev/null) != "$stamp" || ! -e $WINEPREFIX/system.reg ]]; then
        rm -rf "$WINEPREFIX" "$dir/pristine" "$dir/prefix.stamp"
        mkdir -p "$dir" "${WINEPREFIX%/*}"
        wineboot -i >/dev/null 2>&1
        # Debian's Wine 8 looks for its own fonts (fonts-wine) in Z:\usr\share\wine\../fonts,
        # a name it cannot open, and so never finds Marlett, whose glyphs draw the title bar's
        # buttons, nor Tahoma. The Windows font folder is read at every start, as on Windows.
        cp "$fonts"/* "$WINEPREFIX/drive_c/windows/Fonts/"
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

# Makes DIR a second prefix beside the one e2e_prefix made, with the first registry of that one
# and a server of its own, and selects it. Both share drive C:, which holds nothing a run
# checks, so that two can run at once without a second copy of it.
e2e_twin_prefix() {
    local first=$WINEPREFIX
    export WINEPREFIX=$1
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    cp "$E2E_PRISTINE"/*.reg "$WINEPREFIX/"
    # Without the stamp of its last update Wine would update the prefix at its first start.
    cp -a "$first/.update-timestamp" "$first/dosdevices" "$WINEPREFIX/"
    ln -s "$first/drive_c" "$WINEPREFIX/drive_c"
    wineserver -p
}

# Registry text that sets what GetVersionExA reports: a name Wine knows (win95, win98, winme,
# nt40, win2k, winxp, win2003, vista, win7, win8, win81, win10), or "MAJOR.MINOR BUILD [SERVICE
# PACK TEXT]" taken as written.
e2e_windows_reg() {
    local version=$1
    if [[ $version != *.* ]]; then
        printf '[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="%s"\n' "$version"
        return
    fi
    local number build csd software='HKEY_LOCAL_MACHINE\Software'
    read -r number build csd <<<"$version"
    # A 32-bit program on 64-bit Windows reads HKLM\Software through its redirected view.
    [[ $E2E_WINE == host32 ]] || software+='\Wow6432Node'
    # Without a version name Wine reports these values; the two numbers would take precedence.
    cat <<EOT
[HKEY_CURRENT_USER\\Software\\Wine]
"Version"=-

[$software\\Microsoft\\Windows NT\\CurrentVersion]
"CurrentVersion"="$number"
"CurrentBuildNumber"="$build"
"CSDVersion"="$csd"
"CurrentMajorVersionNumber"=-
"CurrentMinorVersionNumber"=-
EOT
}

# Registry text that sets the large-disk value: absent (no Atapi key at all, as in a new
# prefix), novalue, dword0, dword1, binary-short (2 non-zero bytes) or binary-long (8 bytes,
# the first 4 non-zero).
e2e_value_reg() {
    local value
    case $1 in
        absent) echo "[-${E2E_KEY%\\Parameters}]"; return ;;
        novalue) value= ;;
        dword0) value='"EnableBigLba"=dword:00000000' ;;
        dword1) value='"EnableBigLba"=dword:00000001' ;;
        binary-short) value='"EnableBigLba"=hex:01,00' ;;
        binary-long) value='"EnableBigLba"=hex:01,00,00,00,00,00,00,00' ;;
        *) echo "unknown value state $1" >&2; return 1 ;;
    esac
    printf '[-%s]\n\n[%s]\n%s\n' "$E2E_KEY" "$E2E_KEY" "$value"
}

# Sets what Windows reports and the large-disk value, in one import.
e2e_set_state() {
    local windows value
    windows=$(e2e_windows_reg "$1") && value=$(e2e_value_reg "$2") &&
        printf '%s\n\n%s\n' "$windows" "$value" | e2e_import
}

# The value as driver.exe reads it: "TYPE HEX-BYTES", "no value" or "no key".
e2e_value_state() {
    wine "$1" --show-value | tr -d '\r'
}
