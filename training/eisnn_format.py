"""Reading and writing "EISNN001" weight files (numpy only).

Layout: the magic "EISNN001", a u32 count of metadata pairs, each pair two
length-prefixed UTF-8 strings, a u32 count of tensor records, then the
records: name, encoding byte, ndim byte, ndim u32 dimensions, data.
Integers are little-endian; there is no padding anywhere.

Encodings: 0 = binary32, 1 = binary16, 2 = one binary32 scale followed by
one signed byte per element (element = scale * byte).

A record's element count is the product of its dimensions but at least one:
a record with no dimensions, or with a zero among them, holds one value.
"""

from __future__ import annotations

import struct
from pathlib import Path

import numpy as np

MAGIC = b"EISNN001"
BINARY32 = 0
BINARY16 = 1
SCALED_INT8 = 2
ENCODINGS = (BINARY32, BINARY16, SCALED_INT8)

Meta = list[tuple[str, str]]
TensorRecord = tuple[str, int, tuple[int, ...], np.ndarray]

_U32_MAX = 0xFFFFFFFF


def element_count(shape: tuple[int, ...]) -> int:
    """Number of stored values for a record of this shape (never below 1)."""
    count = 1
    for dim in shape:
        count *= int(dim)
    return max(count, 1)


def quantize_int8(values: np.ndarray) -> tuple[np.float32, np.ndarray]:
    """Symmetric int8 quantisation: the scale maps the largest magnitude to 127."""
    flat = np.asarray(values, dtype=np.float64).ravel()
    peak = float(np.max(np.abs(flat))) if flat.size else 0.0
    if not np.isfinite(peak):
        raise ValueError("scaled int8 encoding needs finite values")
    scale = np.float32(peak / 127.0 if peak > 0.0 else 1.0)
    q = np.clip(np.rint(flat / np.float64(scale)), -127, 127).astype(np.int8)
    return scale, q


def _string(text: str) -> bytes:
    raw = text.encode("utf-8")
    if len(raw) > _U32_MAX:
        raise ValueError("string too long for a u32 length prefix")
    return struct.pack("<I", len(raw)) + raw


def _tensor_data(encoding: int, shape: tuple[int, ...], values: np.ndarray) -> bytes:
    flat = np.asarray(values, dtype=np.float64).ravel()
    count = element_count(shape)
    if flat.size == 0 and count == 1 and 0 in shape:
        flat = np.zeros(1)
    if flat.size != count:
        raise ValueError(f"tensor holds {flat.size} values, its shape {shape} needs {count}")
    if encoding == BINARY32:
        return flat.astype("<f4").tobytes()
    if encoding == BINARY16:
        return flat.astype("<f2").tobytes()
    if encoding == SCALED_INT8:
        scale, q = quantize_int8(flat)
        return struct.pack("<f", scale) + q.tobytes()
    raise ValueError(f"unknown tensor encoding {encoding}")


def encode_eisnn(meta: Meta, tensors: list[TensorRecord]) -> bytes:
    """The bytes of a weight file with these metadata pairs and tensor records.

    Each record is (name, encoding, shape, values); values are converted to
    float64 first and then narrowed by the encoding (binary16 and binary32
    round to nearest even, scaled int8 quantises symmetrically).
    """
    parts = [MAGIC, struct.pack("<I", len(meta))]
    for key, value in meta:
        parts.append(_string(key))
        parts.append(_string(value))
    parts.append(struct.pack("<I", len(tensors)))
    for name, encoding, shape, values in tensors:
        shape = tuple(int(d) for d in shape)
        if len(shape) > 255:
            raise ValueError("a tensor has at most 255 dimensions")
        if any(d < 0 or d > _U32_MAX for d in shape):
            raise ValueError(f"dimension out of u32 range in {shape}")
        parts.append(_string(name))
        parts.append(struct.pack("<BB", encoding, len(shape)))
        parts.append(struct.pack(f"<{len(shape)}I", *shape))
        parts.append(_tensor_data(encoding, shape, values))
    return b"".join(parts)


def write_eisnn(path: str | Path, meta: Meta, tensors: list[TensorRecord]) -> None:
    Path(path).write_bytes(encode_eisnn(meta, tensors))


class _Cursor:
    def __init__(self, data: bytes) -> None:
        self.data = memoryview(data)
        self.pos = 0

    def take(self, size: int) -> memoryview:
        if size > len(self.data) - self.pos:
            raise ValueError("weight file is truncated")
        chunk = self.data[self.pos:self.pos + size]
        self.pos += size
        return chunk

    def u32(self) -> int:
        return struct.unpack("<I", self.take(4))[0]

    def u8(self) -> int:
        return self.take(1)[0]

    def string(self) -> str:
        raw = bytes(self.take(self.u32()))
        try:
            return raw.decode("utf-8")
        except UnicodeDecodeError:
            raise ValueError("weight file is truncated") from None


def decode_eisnn(data: bytes) -> tuple[Meta, list[TensorRecord]]:
    """Metadata pairs and tensor records of a weight file, values as float64.

    Values are widened exactly as the module reads them; a record whose shape
    has no elements comes back as a flat array of its single value.
    """
    if len(data) < 8:
        raise ValueError("weight file is truncated")
    if bytes(data[:8]) != MAGIC:
        raise ValueError("not an eisnn weight file (bad magic bytes)")
    cursor = _Cursor(data)
    cursor.pos = 8
    meta = []
    for _ in range(cursor.u32()):
        key = cursor.string()
        meta.append((key, cursor.string()))
    tensors = []
    for _ in range(cursor.u32()):
        name = cursor.string()
        encoding = cursor.u8()
        ndim = cursor.u8()
        shape = tuple(struct.unpack(f"<{ndim}I", cursor.take(4 * ndim)))
        count = element_count(shape)
        if encoding == BINARY32:
            values = np.frombuffer(cursor.take(4 * count), dtype="<f4").astype(np.float64)
        elif encoding == BINARY16:
            values = np.frombuffer(cursor.take(2 * count), dtype="<f2").astype(np.float64)
        elif encoding == SCALED_INT8:
            scale = np.float64(struct.unpack("<f", cursor.take(4))[0])
            values = scale * np.frombuffer(cursor.take(count), dtype=np.int8).astype(np.float64)
        else:
            raise ValueError(f"weight file uses tensor encoding {encoding}, which this build does not know")
        if 0 not in shape and shape:
            values = values.reshape(shape)
        tensors.append((name, encoding, shape, values))
    return meta, tensors
