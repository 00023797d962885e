#!/usr/bin/env bash
# The install and the .deb: what they hold, what the package declares, and
# that the packaged programs run an archive.  install_test.sh VIMSOR-BATCH BIN-DIR BUILD-DIR
. "$(dirname "$0")/common.sh"
command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps is not installed (Debian package dpkg-dev)"

# The programs built here that an install must hold: the nv tools only where built.
programs=(vimsor vimsor-batch $(cd "$bin" && ls nvinfo nvplot nvconvert 2>/dev/null))
holds() {  # ROOT: the programs and man pages are there, the stand-in is not
    local program
    for program in "${programs[@]}"; do
        [ -x "$1/bin/$program" ] || fail "no $program in $1/bin"
    done
    for page in vimsor.1 vimsor-batch.1; do
        [ -f "$1/share/man/man1/$page" ] || fail "no man page $page in $1"
    done
    [ ! -e "$1/bin/mavlin" ] || fail "the mavlin stand-in was installed in $1"
}

cmake --install "$3" --prefix "$work/prefix" >/dev/null || fail "cmake --install"
holds "$work/prefix"

(cd "$3" && cpack -G DEB -B "$work/package" >"$work/cpack.out" 2>&1) || { cat "$work/cpack.out"; fail "cpack -G DEB"; }
deb=$(ls "$work"/package/*.deb) || fail "cpack wrote no .deb"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in parallel libc6 libstdc++6; do
    [[ $depends == *"$needed"* ]] || fail "Depends: $depends (no $needed)"
done
[[ ${#programs[@]} -eq 2 || $depends == *libmseed* ]] || fail "Depends: $depends (the nv tools need libmseed)"
[ "$(dpkg-deb -f "$deb" Suggests)" = slurm-client ] || fail "Suggests: $(dpkg-deb -f "$deb" Suggests)"
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x $deb"
holds "$work/root/usr"

# The packaged programs run the archive as the built ones do, with the stand-in (only) from the build.
make_archive_and_reference
mkdir "$work/shim" && ln -s "$bin/mavlin" "$work/shim/mavlin"
export PATH=$work/root/usr/bin:$work/shim:/usr/bin:/bin
expect_status 0 vimsor-batch plan "$work/batch" "$archive"/*/*
expect_status 1 vimsor-batch run "$work/batch"
check_finished "$work/batch"
echo PASS
