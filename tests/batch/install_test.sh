#!/usr/bin/env bash
# The install and the .deb: what they hold, what the package declares, and
# that the packaged programs run an archive.  install_test.sh VIMSOR-BATCH BIN-DIR BUILD-DIR
. "$(dirname "$0")/common.sh"
build=$3
command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps is not installed (Debian package dpkg-dev)"

# The programs built here that an install must hold: the nv tools only where built.
programs=(vimsor vimsor-batch)
for tool in nvinfo nvplot nvconvert; do
    [ -x "$bin/$tool" ] && programs+=("$tool")
done
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

cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install"
holds "$work/prefix"

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.out" 2>&1) || { cat "$work/cpack.out"; fail "cpack -G DEB"; }
deb=$(ls "$work"/package/*.deb) || fail "cpack wrote no .deb"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in parallel libc6 libstdc++6; do
    [[ $depends == *"$needed"* ]] || fail "Depends: $depends (no $needed)"
done
[[ ${#programs[@]} -eq 2 || $depends == *libmseed* ]] || fail "Depends: $depends (the nv tools need libmseed)"
[ "$(dpkg-deb -f "$deb" Suggests)" = slurm-client ] || fail "Suggests: $(dpkg-deb -f "$deb" Suggests)"
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x $deb"
holds "$work/root/usr"

# The packaged programs run two inputs, with the stand-in (only) from the build.
ln -s "$bin/mavlin" "$work/shim/mavlin"
"$bin/make_example" "$work/a.nv24" 120 20 >/dev/null && cp "$work/a.nv24" "$work/b.nv24" || fail "make_example"
export PATH=$work/root/usr/bin:$work/shim:/usr/bin:/bin
expect_status 0 vimsor-batch plan "$work/batch" "$work/a.nv24" "$work/b.nv24"
expect_status 0 vimsor-batch run "$work/batch"
said "done 2, failed 0, pending 0, running 0 (of 2)"
grep -q "^[^ ]* [^ ]* vimsor " "$work/batch/logfile" || fail "the packaged vimsor did not run"
(cd "$work" && vimsor a.nv24 >/dev/null 2>&1) && cmp -s "$work/a.bi1" "$work/batch/out/a.bi1" || fail "a.bi1 differs"
echo PASS
