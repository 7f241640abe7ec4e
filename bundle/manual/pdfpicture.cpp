// pdfpicture IN.png OUT.pdf: one page showing the picture, lossless, for the
// manual's typesetter (groff's PDF output embeds PDF pages, not PNG files).
#include <QByteArray>
#include <QImage>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: pdfpicture IN.png OUT.pdf\n");
        return 2;
    }
    const QImage image = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB888);
    if (image.isNull()) {
        std::fprintf(stderr, "pdfpicture: cannot read %s\n", argv[1]);
        return 1;
    }
    QByteArray rgb;
    for (int y = 0; y < image.height(); ++y)
        rgb.append(reinterpret_cast<const char*>(image.constScanLine(y)), qsizetype(image.width()) * 3);
    // qCompress puts the length in 4 bytes before a zlib stream.
    const QByteArray flate = qCompress(rgb, 9).mid(4);

    // The page is the picture's size at 96 pixels an inch.
    const double wide = image.width() * 0.75;
    const double high = image.height() * 0.75;
    const std::string content = "q " + std::to_string(wide) + " 0 0 " + std::to_string(high) + " 0 0 cm /Im0 Do Q\n";
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(wide) + " " + std::to_string(high) +
            "] /Resources << /XObject << /Im0 4 0 R >> >> /Contents 5 0 R >>",
        "<< /Type /XObject /Subtype /Image /Width " + std::to_string(image.width()) + " /Height " +
            std::to_string(image.height()) + " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode"
            " /Length " + std::to_string(flate.size()) + " >>\nstream\n" + flate.toStdString() + "\nendstream",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";

    FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr || std::fwrite(pdf.data(), 1, pdf.size(), out) != pdf.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "pdfpicture: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
