# Draws the artwork of Marrowby: web.bmp, the main window's 400x300 monochrome
# picture of a spider web, and marrowby.ico, the program's 32x32 and 16x16
# icon of 16 colours. Run from second/res: python3 make_art.py
import math, struct

def web_pixels(w, h, cx, cy, spokes, rings, thick=1.0):
    """Returns a set of black pixels of a spider web."""
    black = set()
    def plot(x, y):
        for dx in range(-int(thick)+1, int(thick)):
            for dy in range(-int(thick)+1, int(thick)):
                xx, yy = int(round(x))+dx, int(round(y))+dy
                if 0 <= xx < w and 0 <= yy < h:
                    black.add((xx, yy))
    def line(x0, y0, x1, y1):
        n = int(max(abs(x1-x0), abs(y1-y0))*2)+1
        for i in range(n+1):
            t = i/n
            plot(x0+(x1-x0)*t, y0+(y1-y0)*t)
    R = math.hypot(w, h)
    angles = [2*math.pi*k/spokes + 0.13*math.sin(k*1.7) for k in range(spokes)]
    for a in angles:
        line(cx, cy, cx+R*math.cos(a), cy+R*math.sin(a))
    for r in rings:
        for k in range(spokes):
            a0, a1 = angles[k], angles[(k+1) % spokes]
            if a1 < a0: a1 += 2*math.pi
            x0, y0 = cx+r*math.cos(a0), cy+r*math.sin(a0)
            x1, y1 = cx+r*math.cos(a1), cy+r*math.sin(a1)
            # threads sag towards the hub
            mx, my = (x0+x1)/2, (y0+y1)/2
            sag = 0.18
            mx, my = mx+(cx-mx)*sag, my+(cy-my)*sag
            n = 40
            px, py = x0, y0
            for i in range(1, n+1):
                t = i/n
                qx = (1-t)**2*x0 + 2*(1-t)*t*mx + t*t*x1
                qy = (1-t)**2*y0 + 2*(1-t)*t*my + t*t*y1
                line(px, py, qx, qy)
                px, py = qx, qy
    return black

def write_mono_bmp(path, w, h, black):
    row = ((w + 31)//32)*4
    data = bytearray()
    for y in range(h-1, -1, -1):
        bits = bytearray(row)
        for x in range(w):
            if (x, y) not in black:          # white = palette entry 1
                bits[x//8] |= 0x80 >> (x % 8)
        data += bits
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    offset = 14 + 40 + len(palette)
    header = struct.pack('<2sIHHI', b'BM', offset+len(data), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 1, 0, len(data), 3780, 3780, 2, 2)
    open(path, 'wb').write(header+info+palette+data)

# 16-colour palette (the standard VGA colours)
VGA = [(0,0,0),(128,0,0),(0,128,0),(128,128,0),(0,0,128),(128,0,128),(0,128,128),(192,192,192),
       (128,128,128),(255,0,0),(0,255,0),(255,255,0),(0,0,255),(255,0,255),(0,255,255),(255,255,255)]

def icon_image(size):
    """A network of four nodes joined to a hub, on a transparent background."""
    px = {}
    c = size/2 - 0.5
    nodes = [(size*0.18, size*0.18), (size*0.82-1, size*0.18), (size*0.18, size*0.82-1), (size*0.82-1, size*0.82-1)]
    def disc(x0, y0, r, colour):
        for y in range(size):
            for x in range(size):
                if (x-x0)**2 + (y-y0)**2 <= r*r:
                    px[(x, y)] = colour
    def line(x0, y0, x1, y1, colour):
        n = int(max(abs(x1-x0), abs(y1-y0))*2)+1
        for i in range(n+1):
            t = i/n
            px[(int(round(x0+(x1-x0)*t)), int(round(y0+(y1-y0)*t)))] = colour
    for (x, y) in nodes:
        line(c, c, x, y, 0)
    line(nodes[0][0], nodes[0][1], nodes[1][0], nodes[1][1], 8)
    line(nodes[2][0], nodes[2][1], nodes[3][0], nodes[3][1], 8)
    r = size*0.14
    for (x, y) in nodes:
        disc(x, y, r, 0)
        disc(x, y, r-1, 12)
    disc(c, c, size*0.2, 0)
    disc(c, c, size*0.2-1, 9)
    return px

def icon_entry(size):
    px = icon_image(size)
    xor_row = ((size*4 + 31)//32)*4
    and_row = ((size + 31)//32)*4
    xor = bytearray(); mask = bytearray()
    for y in range(size-1, -1, -1):
        r = bytearray(xor_row); m = bytearray(and_row)
        for x in range(size):
            colour = px.get((x, y))
            if colour is None:
                m[x//8] |= 0x80 >> (x % 8)
                colour = 0
            r[x//2] |= colour << (4 if x % 2 == 0 else 0)
        xor += r; mask += m
    pal = b''.join(bytes([b, g, r_, 0]) for (r_, g, b) in VGA)
    info = struct.pack('<IiiHHIIiiII', 40, size, size*2, 1, 4, 0, len(xor)+len(mask), 0, 0, 16, 0)
    return info + pal + xor + mask

def write_icon(path, sizes):
    images = [icon_entry(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16*len(images)
    for s, img in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 16, 0, 1, 4, len(img), offset)
        offset += len(img)
    open(path, 'wb').write(out + b''.join(images))

write_mono_bmp('web.bmp', 400, 300, web_pixels(400, 300, 200, 150, 14, [14, 28, 45, 64, 86, 110, 137, 167, 200, 236, 276]))
write_icon('marrowby.ico', [32, 16])
