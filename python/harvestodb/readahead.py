"""readahead: a file read into the page cache ahead of the reader that needs it (odb2xdmf's).

Imports neither numpy nor, until start() is called, the compiled module: odb2xdmf starts
reading the database before it imports numpy when the program's own files are in the page
cache (resident()); docs/view.md says why only then.
"""

import os

WINDOW = 16 << 20   # bytes asked of the disk beyond what has been read
STEP = 2 << 20      # bytes a request: the kernel reads at most read_ahead_kb of each


def start(path):
    """Starts reading the file into the page cache, in file order, on a thread of the module's
    own (_odb._ReadAhead, which never takes the GIL): the disk reads while the caller computes.
    Returns what stop() ends, or None: files larger than a quarter of the memory available (free,
    or page cache the kernel can drop) are left alone, as they would push out what they bring in.

    The requests stay at most WINDOW ahead of what has been read: the reader's own reads (a
    database's metadata, a block the read-ahead has not reached) queue behind whatever is asked,
    and with the whole file asked at once they waited until the disk had read all of it. Each
    goes in STEP bytes: the kernel reads at most a device's read-ahead size (read_ahead_kb, here
    8 MB) of a request and silently drops the rest."""
    try:
        if os.stat(path).st_size > available_memory() // 4:
            return None
        from . import _odb
        return _odb._ReadAhead(os.fspath(path), WINDOW, STEP)
    except (OSError, ImportError, AttributeError):   # read as it comes
        return None


def available_memory():
    """Bytes of memory the kernel can give without swapping (MemAvailable), else the free pages:
    a machine that has run for hours keeps most of its memory as page cache."""
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemAvailable:"):
                    return int(line.split()[1]) * 1024
    except (OSError, ValueError, IndexError):
        pass
    return os.sysconf("SC_AVPHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")


_LOW_BIT = bytes(b & 1 for b in range(256))


def resident(path):
    """The share (0 to 1) of the file's pages in the page cache, as mincore() sees them through
    a mapping of the file; 0 where that cannot be asked. Asking reads nothing from the disk."""
    try:
        import ctypes
        import mmap
        fd = os.open(path, os.O_RDONLY)
    except (OSError, ImportError):
        return 0.0
    try:
        size = os.fstat(fd).st_size
        if not size:
            return 0.0
        libc = ctypes.CDLL(None, use_errno=True)
        libc.mmap.restype = ctypes.c_void_p
        libc.mmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_long]
        libc.mincore.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p]
        libc.munmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
        addr = libc.mmap(None, size, mmap.PROT_READ, mmap.MAP_SHARED, fd, 0)
        if addr in (None, ctypes.c_void_p(-1).value):
            return 0.0
        try:
            pages = -(-size // mmap.PAGESIZE)
            vec = (ctypes.c_ubyte * pages)()
            if libc.mincore(addr, size, vec) != 0:
                return 0.0
            return bytes(vec).translate(_LOW_BIT).count(1) / pages   # the other bits are the kernel's
        finally:
            libc.munmap(addr, size)
    except (OSError, AttributeError):   # not Linux's libc
        return 0.0
    finally:
        os.close(fd)
