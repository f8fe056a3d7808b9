#!/usr/bin/env python3
"""Draws brevomat.ico (16, 24, 32 and 48 pixels) from the shapes of dist/brevomat.svg: the cartridge
shell, its connector with gold contacts, the label and the lightning bolt. Run it again after the
picture changes; the build uses the .ico it wrote."""
import struct
import sys

SIZE = 64  # the drawing's own grid, as in the SVG


def inside_polygon(x, y, points):
    hit = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def rect(x0, y0, w, h):
    return lambda x, y: x0 <= x < x0 + w and y0 <= y < y0 + h


def polygon(points):
    return lambda x, y: inside_polygon(x, y, points)


def hexrgb(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


# Painted in order, the later over the earlier: (shape, colour).
SHAPES = [
    (rect(6, 8, 52, 43), "#23252c"),  # the shell's outline
    (rect(8, 10, 48, 40), "#5d6270"),  # the shell
    (rect(13, 12, 38, 3), "#474b57"),  # the grip ridge
    (rect(10, 49, 44, 8), "#23252c"),  # the connector
] + [(rect(13 + 4 * i, 51, 2.2, 5), "#e0b23a") for i in range(10)] + [
    (rect(12.4, 18.4, 39.2, 26.2), "#23252c"),  # the label's edge
    (rect(13, 19, 38, 25), "#eef1f6"),  # the label
    (polygon([(36, 12.5), (19, 34), (29, 34), (23.5, 51), (45, 27), (36, 27), (41.5, 12.5)]), "#a65f00"),
    (polygon([(37, 14), (21, 33), (30, 33), (25, 49), (43, 28), (34, 28), (40, 14)]), "#ffd000"),
]


def render(pixels):
    """Returns rows of (r, g, b, a), each output pixel the average of 4 x 4 samples per grid step."""
    samples = 4
    step = SIZE / pixels
    rows = []
    for py in range(pixels):
        row = []
        for px in range(pixels):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * step
                    y = (py + (sy + 0.5) / samples) * step
                    colour = None
                    for shape, fill in SHAPES:
                        if shape(x, y):
                            colour = hexrgb(fill)
                    if colour:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 255
            n = samples * samples
            alpha = acc[3] // n
            cover = max(acc[3] // 255, 1)
            row.append((acc[0] // cover, acc[1] // cover, acc[2] // cover, alpha))
        rows.append(row)
    return rows


def icon_image(pixels):
    rows = render(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, pixels, pixels * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((pixels + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colour + mask


def main(path):
    sizes = [16, 24, 32, 48]
    images = [icon_image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "brevomat.ico")
