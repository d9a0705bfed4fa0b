"""Prints the folder where this Python looks for modules installed under the
prefix given as the argument: the scheme of this Python's own sysconfig whose
data folder is that prefix (the user scheme for ~/.local, Debian's
posix_local for /usr/local, its system scheme for /usr), else the prefix
scheme placed at that prefix.  Used by `cmake --install`."""
import os
import sys
import sysconfig

prefix = os.path.realpath(sys.argv[1])
names = sysconfig.get_scheme_names()
default = sysconfig.get_default_scheme() if hasattr(sysconfig, "get_default_scheme") else "posix_prefix"
for scheme in ["posix_user", default, "deb_system", "posix_prefix"]:
    if scheme in names and os.path.realpath(sysconfig.get_paths(scheme)["data"]) == prefix:
        print(sysconfig.get_paths(scheme)["platlib"])
        break
else:
    print(sysconfig.get_paths("posix_prefix", vars={"base": prefix, "platbase": prefix})["platlib"])
