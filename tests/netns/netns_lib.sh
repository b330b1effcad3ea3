# What the network-namespace test scripts share, sourced by them: a "pc" namespace with units
# in namespaces of their own behind veth pairs. The caller sets RUN, which names this run's
# namespaces, and PC; every namespace made here, every process put into PIDS and the folder
# WORK are removed on exit. 77 means skipped.

readonly SKIP=77

if [ "$(id -u)" != 0 ] || ! command -v ip > /dev/null; then
    echo "SKIP: network namespaces need root and iproute2"
    exit $SKIP
fi

WORK=$(mktemp -d)
NAMESPACES=()
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2> /dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2> /dev/null; done
    for ns in "${NAMESPACES[@]}"; do ip netns del "$ns" 2> /dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# make_pc: the namespace PC with its loopback up; skips where no namespace can be made.
make_pc() {
    if ! ip netns add "$PC" 2> /dev/null; then
        echo "SKIP: cannot create network namespaces here"
        exit $SKIP
    fi
    NAMESPACES+=("$PC")
    ip -n "$PC" link set lo up
}

# make_unit_namespace NAMESPACE VETH BRIDGE ADDRESS/PREFIX: a namespace whose eth0 holds the
# address, joined to the pc's BRIDGE by the veth pair VETH.
make_unit_namespace() {
    local ns=$1
    ip netns add "$ns" || fail "namespace $ns"
    NAMESPACES+=("$ns")
    ip -n "$PC" link add "$2" type veth peer name eth0 netns "$ns" || fail "veth for $ns"
    ip -n "$PC" link set "$2" master "$3" up
    ip -n "$ns" link set lo up
    ip -n "$ns" addr add "$4" brd + dev eth0
    ip -n "$ns" link set eth0 up
}
