# SPDX-License-Identifier: MIT
# burnimg scenarios on /dev/mtd0, run by the guest's /init (busybox sh).
#
# Each scenario sets the device to a known content, runs burnimg under the
# invocation name "burnimg", and checks the exit status, the exact bytes
# printed, and then every byte of the device (and of any file written). It
# prints "PASS name" or "FAIL name" with the reasons, and the suite ends with
# "device: N passed, M failed", which the host script reads.
#
# Images, built by the host: /img/a.bin holds 150000 bytes, /img/b.bin
# 300000 bytes, neither holds a 0xFF byte. The device holds 262144 bytes.

. /suite.conf
dev=/dev/mtd0
dev_size=$((MTD_KIB * 1024))
passed=0
failed=0

# 0xFF bytes enough for the whole device, built by doubling.
printf '\377' >/tmp/ff
while [ "$(wc -c </tmp/ff)" -lt "$dev_size" ]; do
    cat /tmp/ff /tmp/ff >/tmp/ff2 && mv /tmp/ff2 /tmp/ff
done

uptime() {
    cut -d ' ' -f 1 /proc/uptime
}

scenario() {
    name=$1
    problems=0
    started=$(uptime)
    echo "--- $name"
}

problem() {
    echo "  $*"
    problems=$((problems + 1))
}

end_scenario() {
    took=$(echo "$started $(uptime)" | awk '{ printf "%.2f", $2 - $1 }')
    if [ "$problems" = 0 ]; then
        echo "PASS $name ($took s)"
        passed=$((passed + 1))
    else
        echo "FAIL $name ($took s)"
        failed=$((failed + 1))
    fi
}

# ffs N: N bytes of 0xFF, in pieces of $ff_file ($ff_size bytes of 0xFF)
# for lengths beyond it.
ff_file=/tmp/ff ff_size=$dev_size
ffs() {
    left=$1
    while [ "$left" -gt "$ff_size" ]; do
        cat "$ff_file"
        left=$((left - ff_size))
    done
    head -c "$left" "$ff_file"
}

# emit SEGMENT...: writes the bytes that SEGMENTs describe, in order, to
# standard output. "PATH:OFFSET:LENGTH" is a part of a file, "ff:LENGTH"
# 0xFF bytes.
emit() {
    for seg in "$@"; do
        case $seg in
            ff:*) ffs "${seg#ff:}" ;;
            *)
                path=${seg%%:*} rest=${seg#*:}
                tail -c +$((${rest%%:*} + 1)) "$path" | head -c "${rest#*:}"
                ;;
        esac
    done
}

# segments FILE SEGMENT...: writes the segments' bytes to FILE.
segments() {
    out=$1
    shift
    emit "$@" >"$out"
}

# preload SEGMENT...: writes the device whole with the segments' bytes.
preload() {
    segments /tmp/preload "$@"
    dd if=/tmp/preload of=$dev bs=65536 conv=notrunc 2>/dev/null
    dd if=$dev of=/tmp/readback bs=65536 2>/dev/null
    cmp -s /tmp/preload /tmp/readback || problem "the device could not be set up: $*"
}

# burn ARG...: runs burnimg; its output goes to /tmp/out and /tmp/err, its
# exit status to $status. A run that cycles forever is stopped after 60 s.
burn() {
    timeout 60 burnimg "$@" >/tmp/out 2>/tmp/err
    status=$?
}

expect_status() {
    [ "$status" = "$1" ] || problem "exit status $status, expected $1"
}

# show FILE: prints the start of FILE with line ends and other bytes visible.
show() {
    cat -A "$1" | head -n 20 | sed 's/^/    /'
    echo
}

# expect_stream NAME FILE TEXT...: FILE, what the run wrote to the stream
# NAME, must be the TEXTs joined, with backslash escapes as printf %b reads
# them.
expect_stream() {
    stream=$1 file=$2
    shift 2
    printf '%b' "$@" >/tmp/want
    if ! cmp -s /tmp/want "$file"; then
        problem "$stream differs (cat -A: \$ ends a line); expected:"
        show /tmp/want
        echo "  got:"
        show "$file"
    fi
}

# expect_output TEXT...: standard output must be the TEXTs joined;
# standard error must be empty.
expect_output() {
    expect_stream "standard output" /tmp/out "$@"
    [ -s /tmp/err ] && problem "standard error: $(head -c 200 /tmp/err)"
}

# expect_bytes FILE SEGMENT...: FILE must hold exactly the segments' bytes.
expect_bytes() {
    file=$1
    shift
    segments /tmp/want.bin "$@"
    if ! cmp -s /tmp/want.bin "$file"; then
        problem "$file: $(cmp /tmp/want.bin "$file" 2>&1 | head -n 1) (want $(wc -c </tmp/want.bin) bytes, have $(wc -c <"$file"))"
    fi
}

# expect_device SEGMENT...: reads the device back to its end; it must hold
# exactly the segments' bytes.
expect_device() {
    dd if=$dev of=/tmp/device bs=65536 2>/dev/null
    expect_bytes /tmp/device "$@"
}

# dots N: the progress line's N dots.
dots() {
    i=0
    while [ $i -lt "$1" ]; do printf .; i=$((i + 1)); done
}

scenario "a fresh device reads 262144 bytes of 0xFF"
expect_device ff:262144
end_scenario

scenario "copy leaves out the image tail and verify compares the rest"
preload /img/b.bin:0:262144
burn -i /img/a.bin -o $dev -c
expect_status 0
expect_output 'burnimg: copy /img/a.bin to /dev/mtd0\n' \
    'programming: ...\n' \
    'closing: /dev/mtd0 \n' \
    'check firmware on: /dev/mtd0 check firmware /dev/mtd0 success burnimg: successful!\n'
expect_device /img/a.bin:0:149992 /img/b.bin:149992:112152
end_scenario

scenario "a fill up to the device's size covers the left-out tail"
preload /img/b.bin:0:262144
burn -i /img/a.bin -o $dev -b 0x8000 -f 0x40000 -c
expect_status 0
expect_output 'burnimg: copy /img/a.bin to /dev/mtd0\n' \
    'programming: .....\n' \
    'burnimg: write 112152 0xFF to end of mtd\n' \
    'closing: /dev/mtd0 \n' \
    'check firmware on: /dev/mtd0 check firmware /dev/mtd0 success burnimg: successful!\n'
expect_device /img/a.bin:0:149992 ff:112152
end_scenario

scenario "a fill past the end stops at the end of the device and the run succeeds"
preload /img/b.bin:0:262144
burn -i /img/a.bin -o $dev -f 0x50000
expect_status 0
expect_output 'burnimg: copy /img/a.bin to /dev/mtd0\n' \
    'programming: ...\n' \
    'burnimg: write 177688 0xFF to end of mtd\n' \
    'burnimg: write error -1 errno 28\n' \
    'closing: /dev/mtd0 \n' \
    'burnimg: successful!\n'
expect_device /img/a.bin:0:149992 ff:112152
end_scenario

# The third chunk starts at 200000: its write is cut short at the end of the
# device, and the write of the rest of the chunk fails.
scenario "an image larger than the device: a chunk crossing the end fails the run"
preload ff:262144
burn -i /img/b.bin -o $dev -b 100000
expect_status 255
expect_output 'burnimg: copy /img/b.bin to /dev/mtd0\n' \
    'programming: ..burnimg: write error -1 errno 28 (wrote 200000 bytes)\n' \
    '\n' \
    'closing: /dev/mtd0 \n' \
    'burnimg: failed!\n'
expect_device /img/b.bin:0:262144
end_scenario

scenario "an image larger than the device: a chunk starting at the end fails the run"
preload ff:262144
burn -i /img/b.bin -o $dev
expect_status 255
expect_output 'burnimg: copy /img/b.bin to /dev/mtd0\n' \
    'programming: ....burnimg: write error -1 errno 28 (wrote 262144 bytes)\n' \
    '\n' \
    'closing: /dev/mtd0 \n' \
    'burnimg: failed!\n'
expect_device /img/b.bin:0:262144
end_scenario

scenario "-u writes and compares the whole image and leaves the rest of the device"
preload /img/b.bin:0:262144
burn -u -c -i /img/a.bin -o $dev
expect_status 0
expect_output 'burnimg: copy /img/a.bin to /dev/mtd0\n' \
    'programming: ...\n' \
    'closing: /dev/mtd0 \n' \
    'check firmware on: /dev/mtd0 check firmware /dev/mtd0 success burnimg: successful!\n'
expect_device /img/a.bin:0:150000 /img/b.bin:150000:112144
end_scenario

scenario "-u with small chunks and a fill to the last byte"
preload /img/b.bin:0:262144
burn -u -b 4096 -f 262144 -i /img/a.bin -o $dev
expect_status 0
expect_output 'burnimg: copy /img/a.bin to /dev/mtd0\n' \
    "programming: $(dots 37)\n" \
    'burnimg: write 112144 0xFF to end of mtd\n' \
    'closing: /dev/mtd0 \n' \
    'burnimg: successful!\n'
expect_device /img/a.bin:0:150000 ff:112144
end_scenario

# fstat gives a character device the size 0, so every chunk read from the
# device reaches the image size and, without -u, loses its last 8 bytes.
scenario "the device as the image: without -u every chunk loses 8 bytes"
preload /img/b.bin:0:262144
: >/tmp/copy.bin
burn -i $dev -o /tmp/copy.bin
expect_status 0
expect_output 'burnimg: copy /dev/mtd0 to /tmp/copy.bin\n' \
    'programming: ....\n' \
    'closing: /tmp/copy.bin \n' \
    'burnimg: successful!\n'
expect_bytes /tmp/copy.bin /img/b.bin:0:65528 /img/b.bin:65536:65528 \
    /img/b.bin:131072:65528 /img/b.bin:196608:65528
expect_device /img/b.bin:0:262144
end_scenario

scenario "the device as the image: -u copies it whole"
preload /img/b.bin:0:262144
: >/tmp/copy.bin
burn -u -i $dev -o /tmp/copy.bin
expect_status 0
expect_output 'burnimg: copy /dev/mtd0 to /tmp/copy.bin\n' \
    'programming: ....\n' \
    'closing: /tmp/copy.bin \n' \
    'burnimg: successful!\n'
expect_bytes /tmp/copy.bin /img/b.bin:0:262144
end_scenario

# The read-only node refuses a write open: the run ends at once, silently.
scenario "the read-only device node as the target fails without output"
preload ff:262144
burn -i /img/a.bin -o /dev/mtd0ro
expect_status 255
expect_output ''
expect_device ff:262144
end_scenario

# The NAND flash, and the installed update scripts on it.
. /nand.sh
if [ "$SCRIPTS" = yes ]; then
    . /examples.sh
else
    echo "SKIP update scripts: not installed on the board (run.sh --scripts)"
fi

echo "device: $passed passed, $failed failed"
