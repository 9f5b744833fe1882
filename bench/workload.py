#!/usr/bin/env python3
"""Benchmark workloads: a configuration and the exact records its compilation
must give.

    workload.py NAME DIR

writes DIR/NAME.conf and DIR/NAME.records. The records are in the input
format of the generic cdb tools (cdbmake, cdb -c): "+klen,dlen:key->data" and
a newline per record, an empty line at the end. They stand in the order the
compiler writes them: the last client block of the configuration first,
within a block its keys from left to right, a network or range ascending.
Record data is each variable as name=value and a NUL byte, the included
class's variables first, every ${name} replaced by that variable's value.

Nothing is random: the same name always gives the same bytes.

Workloads:
  networks, networks4, networks16   one class of 6 variables; 48 (x4, x16)
                                    client blocks, each a /20 network that
                                    includes the class and sets 6 variables,
                                    two of them referring to the class's
  ranges                            2,000 blocks of a 200-address last-octet
                                    range with 2 or 3 small variables
  hosts                             8,000 blocks named "name,address" with 8
                                    variables, half of them with references
  chain10k, chain20k                one client whose every variable refers to
                                    the one before
"""

import re
import sys

REFERENCE = re.compile(r"\$\{([^}]*)\}")


class Block:
    """One client entry: its keys, in record order, and its variables."""

    def __init__(self, keys, variables):
        self.keys = keys
        self.variables = variables


def expand(variables):
    """The record data: every reference names a variable set before it, so
    one pass in order resolves them all."""
    done = {}
    items = []
    for name, value in variables:
        value = REFERENCE.sub(lambda m: done[m.group(1)], value)
        done[name] = value
        items.append(f"{name}={value}\0")
    return "".join(items).encode()


def network_keys(a, b, c):
    """The 4096 addresses of the /20 network a.b.c.0, ascending, made as they
    are written out: the largest workload would not fit in memory at once."""
    return (f"{a}.{b}.{c + j}.{d}" for j in range(16) for d in range(256))


def range_keys(b, c):
    """The 200 addresses of the range 10.b.c.10-209, ascending."""
    return (f"10.{b}.{c}.{d}" for d in range(10, 210))


# The networks workload: the class, included by every block.
SITE_CLASS = [
    ("domain", "clients.corvane.example.net"),
    ("nfs_server", "172.31.255.10"),
    ("tftp_server", "172.31.255.11"),
    ("boot_file", "pxelinux.0"),
    ("ntp_server", "172.31.255.12"),
    ("lease", "86400"),
]


def networks(blocks):
    conf = ["# sites: one /20 network each\n",
            "class site {\n"]
    conf += [f'  {n} = "{v}";\n' for n, v in SITE_CLASS]
    conf.append("}\n\n")
    out = []
    for i in range(blocks):
        a, b, c = 172, 16 + i // 16, (i % 16) * 16
        own = [
            ("site", f"site-{i:04d}"),
            ("vlan", str(100 + i)),
            ("gateway", f"{a}.{b}.{c}.1"),
            ("root_path", f"${{nfs_server}}:/export/roots/site-{i:04d}/current"),
            ("search", f"site-{i:04d}.${{domain}}"),
            ("comment", f"bldg {i // 16}/{i % 16}"),
        ]
        conf.append(f'client "{a}.{b}.{c}.0/20" : site {{\n')
        conf += [f'  {n} = "{v}";\n' for n, v in own]
        conf.append("}\n")
        out.append(Block(network_keys(a, b, c), SITE_CLASS + own))
    return conf, out


def ranges():
    conf = ["# labs: one range of 200 addresses each\n"]
    out = []
    for i in range(2000):
        b, c = i // 256, i % 256
        own = [("pool", f"range-{i:04d}"), ("boot", "ipxe.efi")]
        if i % 2:
            own.append(("lease", "3600"))
        conf.append(f'client "10.{b}.{c}.10-209" {{\n')
        conf += [f'  {n} = "{v}";\n' for n, v in own]
        conf.append("}\n")
        out.append(Block(range_keys(b, c), own))
    return conf, out


def hosts():
    conf = ["# workstations: one block per machine, by name and address\n"]
    out = []
    for i in range(8000):
        # A "-" would make the name a range of keys.
        name, address = f"ws{i:05d}", f"10.64.{i // 256}.{i % 256}"
        own = [
            ("hostname", name),
            ("domain", "lab.example.org"),
            ("fqdn", "${hostname}.${domain}"),
            ("mac", f"52:54:00:{i >> 16 & 255:02x}:{i >> 8 & 255:02x}:{i & 255:02x}"),
            ("boot_url", "http://boot.${domain}/ipxe/${mac}"),
            ("owner", f"team-{i % 97}"),
            ("motd", "${fqdn} belongs to ${owner}"),
            ("syslog", "${domain}:514"),
        ]
        conf.append(f'client "{name},{address}" {{\n')
        conf += [f'  {n} = "{v}";\n' for n, v in own]
        conf.append("}\n")
        out.append(Block([name, address], own))
    return conf, out


def chain(count):
    """A one-line entry, since a block holds fewer assignments than this."""
    own = [("v0", "base")] + [(f"v{k}", f"${{v{k - 1}}}") for k in range(1, count)]
    line = " ".join(f"{n}({v})" for n, v in own)
    return [f"chain: {line}\n"], [Block(["chain"], own)]


WORKLOADS = {
    "networks": lambda: networks(48),
    "networks4": lambda: networks(4 * 48),
    "networks16": lambda: networks(16 * 48),
    "ranges": ranges,
    "hosts": hosts,
    "chain10k": lambda: chain(10000),
    "chain20k": lambda: chain(20000),
}


def write_records(path, blocks):
    """Newest block first; one write per block keeps this fast at 1 GiB."""
    with open(path, "wb") as f:
        for block in reversed(blocks):
            data = expand(block.variables)
            tail = b"->" + data + b"\n"
            f.write(b"".join(b"+%d,%d:%s%s" % (len(k), len(data), k.encode(), tail)
                             for k in block.keys))
        f.write(b"\n")


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in WORKLOADS:
        sys.exit(f"usage: workload.py {{{'|'.join(WORKLOADS)}}} DIR")
    name, directory = sys.argv[1], sys.argv[2]
    conf, blocks = WORKLOADS[name]()
    with open(f"{directory}/{name}.conf", "w") as f:
        f.writelines(conf)
    write_records(f"{directory}/{name}.records", blocks)


if __name__ == "__main__":
    main()
