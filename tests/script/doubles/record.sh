# Sourced by the stand-in programs. record NAME [VAR...] -- [ARG...] appends one line to
# $VORLEN_TEST_LOG: NAME, then VAR=value for each set variable, "--" and the arguments, all
# separated by tabs, so that the tests see every call, in order, with the environment it got.
record() {
	name=$1
	shift
	{
		printf '%s' "$name"
		while [ "$1" != "--" ]; do
			eval "isset=\${$1+x} value=\${$1-}"
			[ -n "$isset" ] && printf '\t%s=%s' "$1" "$value"
			shift
		done
		shift
		printf '\t--'
		for arg in "$@"; do printf '\t%s' "$arg"; done
		printf '\n'
	} >>"$VORLEN_TEST_LOG"
}

# after OPTION ARG... prints the argument that follows OPTION.
after() {
	option=$1
	shift
	while [ $# -gt 1 ]; do
		[ "$1" = "$option" ] && { printf '%s' "$2"; return; }
		shift
	done
}

# Puts the stand-in bash.exe where an MSYS2 installation has it, and a pacman.exe and an
# msys-2.0.dll that only need to be there (the script runs pacman through bash).
install_msys() {
	mkdir -p "$1/usr/bin"
	cp "$VORLEN_TEST_DOUBLES/bash.exe" "$1/usr/bin/bash.exe"
	chmod 755 "$1/usr/bin/bash.exe"
	: >"$1/usr/bin/pacman.exe"
	: >"$1/usr/bin/msys-2.0.dll"
}
