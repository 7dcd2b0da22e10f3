# Writes the hand-made seed PDFs of the page converter's fuzz corpus into the
# current folder (cut.pdf is text.pdf cut in half; ours.pdf, enc.pdf and
# enc-open.pdf were made from these with pdf2emf/emf2pdf and qpdf --encrypt).
import zlib
def pdf(content, resources="", extra=[], rotate=" /Rotate 90"):
    objs = ["<< /Type /Catalog /Pages 2 0 R >>",
            "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100]" + rotate + " /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> " + resources + " >> >>",
            "<< /Length %d >>\nstream\n" % len(content) + content + "\nendstream",
            "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"] + extra
    out = "%PDF-1.4\n"; offs = []
    for i, o in enumerate(objs):
        offs.append(len(out)); out += "%d 0 obj\n%s\nendobj\n" % (i + 1, o)
    x = len(out)
    out += "xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    for o in offs: out += "%010d 00000 n \n" % o
    out += "trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, x)
    return out.encode('latin-1')
open("text.pdf","wb").write(pdf("BT /F1 12 Tf 10 80 Td [(Kern)-200(ed) 300 (words)] TJ 0.5 0 0 0.5 0 0 Tm 2 Tr (stroked) Tj 7 Tr (clip) Tj ET\n"
  "BT 0 1 -1 0 100 10 Tm /F1 9 Tf (rotated \\(text\\)) Tj 3 Ts 120 Tz 2 Tc 5 Tw (a b c) Tj ET"))
img = bytes([255,0,0, 0,255,0, 0,0,255, 255,255,255])
open("shapes.pdf","wb").write(pdf(
  "q 1 0 0 RG 0.1 w [1 2 3] 1 d 0 J 0 j 5 M 10 10 m 50 50 100 10 190 90 c h S Q\n"
  "q 20 20 m 80 80 l 20 80 l h W* n /Sh1 sh Q q 0 0 100 100 re W n /Sh2 sh Q q /Sh3 sh Q\n"
  "q 40 0 0 40 120 10 cm /Im1 Do Q q 30 0 0 30 150 50 cm /Im2 Do Q\n"
  "q 20 0 0 20 10 60 cm BI /W 8 /H 2 /IM true /BPC 1 ID \x0f\xf0 EI Q\n"
  "/P0 cs /P1 scn 0 0 50 50 re f\n",
  "/Shading << /Sh1 << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 100 0] /Function << /FunctionType 2 /Domain [0 1] /C0 [1 0 0] /C1 [0 0 1] /N 1 >> >> "
  "/Sh2 << /ShadingType 3 /ColorSpace /DeviceGray /Coords [50 50 0 50 50 40] /Function << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 2 >> /Extend [false true] >> "
  "/Sh3 << /ShadingType 1 /ColorSpace /DeviceRGB /Domain [0 1 0 1] /Matrix [100 0 0 100 0 0] /Function << /FunctionType 2 /Domain [0 1] /C0 [0 1 0] /C1 [1 1 0] /N 1 >> >> >> "
  "/XObject << /Im1 6 0 R /Im2 7 0 R >> /Pattern << /P1 9 0 R >>",
  ["<< /Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Length 12 >>\nstream\n" + img.decode('latin-1') + "\nendstream",
   "<< /Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8 /SMask 8 0 R /Length 12 >>\nstream\n" + img.decode('latin-1') + "\nendstream",
   "<< /Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8 /Length 4 >>\nstream\n\x00\x80\xc0\xff\nendstream",
   "<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 10 10] /XStep 10 /YStep 10 /Resources << >> /Length 17 >>\nstream\n0 0 1 rg 0 0 5 5 re f\nendstream"]))
t3 = "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 10 10] /FontMatrix [0.1 0 0 0.1 0 0] /CharProcs << /a 7 0 R >> /Encoding << /Differences [97 /a] >> /FirstChar 97 /LastChar 97 /Widths [10] /Resources << >> >>"
open("type3.pdf","wb").write(pdf("BT /T3 20 Tf 10 50 Td (aaa) Tj ET", "/Font << /T3 6 0 R >>",
  [t3, "<< /Length 30 >>\nstream\n10 0 0 0 10 10 d1 0 0 8 8 re f\nendstream"]))
b = open("text.pdf","rb").read(); open("cut.pdf","wb").write(b[:len(b)//2])
# Soft masks: a shadow's (one grey picture, deflated, over fills in a ring
# clip), one the area painter draws (text in its group), one that masks itself.
shade = zlib.compress(bytes([0, 64, 128, 255, 255, 128, 64, 0]))
def group(body, res):
    return "<< /Type /XObject /Subtype /Form /BBox [0 0 200 100] /Group << /S /Transparency /CS /DeviceGray >> /Resources << " + res + " >> /Length %d >>\nstream\n" % len(body) + body + "\nendstream"
open("shadow.pdf","wb").write(pdf(
  "q 0 0 200 100 re 40 30 120 40 re W* n /S1 gs 0 0 0 rg 20 10 160 80 re f 1 0 0 rg 30 20 20 20 re f Q\n"
  "q /S2 gs 0 0 1 rg 10 10 50 50 re f Q q /S3 gs 0 1 0 rg 100 10 50 50 re f Q",
  "/ExtGState << /S1 << /SMask << /S /Luminosity /G 6 0 R >> >> /S2 << /SMask << /S /Luminosity /G 7 0 R >> >> "
  "/S3 << /SMask << /S /Luminosity /G 8 0 R >> >> >>",
  [group("q 160 0 0 80 20 10 cm /Im Do Q", "/XObject << /Im 9 0 R >>"),
   group("q 50 0 0 50 10 10 cm /Im Do Q BT /F1 9 Tf 12 12 Td (in the mask) Tj ET", "/XObject << /Im 9 0 R >> /Font << /F1 5 0 R >>"),
   group("/Self gs 0 0 200 100 re f", "/ExtGState << /Self << /SMask << /S /Luminosity /G 8 0 R >> >> >>"),
   "<< /Type /XObject /Subtype /Image /Width 4 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode /Length %d >>\nstream\n" % len(shade) + shade.decode('latin-1') + "\nendstream"], ""))
