# vidselect runs as root: it maps nothing but libc and the role library,
# which it finds by name.
binary=$1
needed=$(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
if [[ $needed =~ ^libc\.so\.[0-9]+\ libvorn\.so\ $ ]]; then
    echo "linkage: $needed"
else
    echo "FAIL: vidselect needs: $needed; expected exactly libc and libvorn.so"
    exit 1
fi
