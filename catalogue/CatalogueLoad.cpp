#include "catalogue/CatalogueLoad.h"

#include "catalogue/CatalogueRead.h"

#include <QFile>

namespace didira {

const BuiltInStation kBuiltInStations[kBuiltInStationCount] = {
    {"0", "ニッポン放送", "http://www.jolf.co.jp/live/jolf.asx"},
    {"0", "文化放送", "http://www.joqr.co.jp/live/joqr.asx"},
    {"0", "FM大阪", "http://www.fmosaka.net/live/fmosaka.asx"},
    {"0", "80.0MHz TOKYO FM", "http://www.tfm.co.jp/live/tfm.asx"},
    {"0", "J-WAVE 81.3", "http://www.j-wave.co.jp/live/jwave.asx"},
    {"0", "NACK５", "http://www.nack5.co.jp/live/nack5.asx"},
    {"2", "VIRGIN CLASSIC ROCK", "http://www.virginradio.co.uk/live/classicrock.asx?bitrate=32"},
    {"1", "WETA 90.9 FM  Washington D.C.", "http://www.weta.org/live/weta.asx"},
    {"4", "WNKU", "http://www.wnku.org/live/wnku.asx"},
    {"", "ABC\u3000coast FM ｵｰｽﾄﾗﾘｱ", "http://www.abc.net.au/coastfm/live/coastfm.asx"},
};

void InstallBuiltInStations(StationTable& table) {
    for (int k = 0; k < kBuiltInStationCount; ++k) {
        const auto i = static_cast<std::size_t>(k);
        table.number[i] = QString::fromUtf8(kBuiltInStations[k].number);
        table.name[i] = QString::fromUtf8(kBuiltInStations[k].name);
        table.url[i] = QString::fromUtf8(kBuiltInStations[k].url);
    }
}

int LoadStationCatalogue(const QString& path, StationTable& table,
                         const CatalogueMessageSink& sink) {
    const auto say = [&sink](const QString& text) {
        if (sink)
            sink(text);
    };
    const std::string fsPath = QFile::encodeName(path).toStdString();
    const CatalogueRead read = ReadCatalogue(fsPath);
    switch (read.status) {
    case CatalogueRead::Status::Missing:
        say(QStringLiteral("CSVﾌｧｲﾙ%1がありません").arg(path));
        InstallBuiltInStations(table);
        return kBuiltInStationCount;
    case CatalogueRead::Status::NoWorkbook:
        InstallBuiltInStations(table);
        say(QStringLiteral("Excel ｺﾝﾎﾟｰﾈﾝﾄが無いのでﾃﾞﾌｫﾙﾄ設定で表示します"));
        return kBuiltInStationCount;
    case CatalogueRead::Status::BadColumns:
        say(QStringLiteral("CSVﾌｧｲﾙ%1は3列(no,name,url)にしてください").arg(path));
        return -1;
    case CatalogueRead::Status::TooManyRows:
        // One arg() call, so that a "%2" inside the path is not replaced.
        say(QStringLiteral("CSVﾌｧｲﾙ%1は%2行以内にしてください")
                .arg(path, QString::number(kCatalogueMaxRows)));
        return -1;
    case CatalogueRead::Status::Loaded:
        break;
    }
    std::size_t i = 0;
    for (const auto& cells : read.rows) {
        // A line with fewer than three cells leaves its missing fields as
        // they were.
        if (cells.size() > 0)
            table.number[i] = QString::fromStdString(cells[0]);
        if (cells.size() > 1)
            table.name[i] = QString::fromStdString(cells[1]);
        if (cells.size() > 2)
            table.url[i] = QString::fromStdString(cells[2]);
        ++i;
    }
    return static_cast<int>(read.rows.size());
}

} // namespace didira
