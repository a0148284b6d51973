"""Module for guidepull"""

from typing import Union

def crc32(data: Union[str, bytes], type: int, /) -> int:
    """Calculate Zarvo's CRC32 for a data string.

    CRC-32 (polynomial 0x04C11DB7, MSB first, init 0, no reflection, no final
    XOR) over the low byte of ``type``, the low byte of the data's length and
    the data (a ``str`` counts as its UTF-8 bytes). The register is returned
    as a signed 32-bit int; mask with 0xFFFFFFFF for the unsigned value.
    """
    ...
