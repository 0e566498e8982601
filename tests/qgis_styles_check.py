"""Opens analysis outputs in QGIS as a user would and checks that the
default style QGIS finds for each draws it as plexa does.

    qgis_styles_check.py SCREENSHOT_DIR KIND=URI ...

KIND is "single" (the green single symbol of a demographic result or of a
household run that did not wait) or "graduated" (the five classes of
"PERCENT" of a household result); URI is what QGIS's "ogr" or "postgres"
provider opens ("postgres:" before a PostgreSQL connection). The first
output of each kind is drawn by QGIS into SCREENSHOT_DIR. Prints one "ok:"
or "FAIL:" line per check.
"""
import os
import sys

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

from qgis.core import (  # noqa: E402
    QgsApplication,
    QgsMapRendererParallelJob,
    QgsMapSettings,
    QgsRenderContext,
    QgsUnitTypes,
    QgsVectorLayer,
)
from qgis.PyQt.QtCore import QSize  # noqa: E402
from qgis.PyQt.QtGui import QColor  # noqa: E402

failures = 0


def check(what, ok, detail=""):
    global failures
    if ok:
        print("ok: " + what)
    else:
        failures += 1
        print("FAIL: " + what + (": " + detail if detail else ""))


def rgb(colour):
    return (colour.red(), colour.green(), colour.blue())


def bound(v):
    """A class bound as plexa labels it: "##0.0##"."""
    s = "%.3f" % v
    while s.endswith("0") and not s.endswith(".0"):
        s = s[:-1]
    return s


def ramp(count):
    """plexa's green ramp of six colours, spread over the classes."""
    start, end = (230, 254, 230), (23, 118, 21)
    colours = [tuple(int(a + (b - a) * i / 5 + 0.5) for a, b in zip(start, end)) for i in range(6)]
    return [colours[(i * 5) // (count - 1) if count > 1 else 5] for i in range(count)]


def outline_of(symbol):
    layer = symbol.symbolLayer(0)
    return layer.strokeWidth(), layer.strokeWidthUnit(), rgb(layer.strokeColor())


def check_single(name, layer):
    r = layer.renderer()
    check(name + " is drawn with a single symbol", r.type() == "singleSymbol", r.type())
    if r.type() != "singleSymbol":
        return
    symbol = r.symbol()
    check(name + " is filled pure green", rgb(symbol.color()) == (0, 255, 0), str(rgb(symbol.color())))
    width, unit, colour = outline_of(symbol)
    check(name + " has an outline of 0.1 points", abs(width - 0.1) < 1e-9 and unit == QgsUnitTypes.RenderPoints, "%g, unit %d" % (width, unit))
    check(name + " has a grey outline", colour == (110, 110, 110), str(colour))


def check_graduated(name, layer):
    r = layer.renderer()
    check(name + " is drawn in graduated classes", r.type() == "graduatedSymbol", r.type())
    if r.type() != "graduatedSymbol":
        return
    check(name + " classes PERCENT", r.classAttribute() == "PERCENT", r.classAttribute())
    ranges = r.ranges()
    values = sorted(f["PERCENT"] for f in layer.getFeatures())
    distinct = len(set(values))
    check(name + " has five classes", len(ranges) == min(5, distinct), "%d classes of %d values" % (len(ranges), distinct))
    if not ranges:
        return
    check(name + " classes begin at the smallest share", ranges[0].lowerValue() == values[0],
          "%r, not %r" % (ranges[0].lowerValue(), values[0]))
    check(name + " classes end at the largest share", ranges[-1].upperValue() == values[-1],
          "%r, not %r" % (ranges[-1].upperValue(), values[-1]))
    check(name + " classes follow each other",
          all(ranges[i].upperValue() == ranges[i + 1].lowerValue() for i in range(len(ranges) - 1)))
    labels = [x.label() for x in ranges]
    want = [bound(x.lowerValue()) + " - " + bound(x.upperValue()) + " %" for x in ranges]
    check(name + " labels as plexa's legend", labels == want, "%r, not %r" % (labels, want))
    colours = [rgb(x.symbol().color()) for x in ranges]
    check(name + " classes from light to dark green", colours == ramp(len(ranges)),
          "%r, not %r" % (colours, ramp(len(ranges))))
    outlines = set(outline_of(x.symbol()) for x in ranges)
    check(name + " classes have plexa's outline", outlines == {(0.4, QgsUnitTypes.RenderPoints, (110, 110, 110))}, str(outlines))
    context = QgsRenderContext()
    r.startRender(context, layer.fields())
    drawn = [r.symbolForFeature(f, context) is not None for f in layer.getFeatures()]
    r.stopRender(context)
    check(name + " draws every area", all(drawn), "%d of %d" % (sum(drawn), len(drawn)))


def draw(layer, path):
    settings = QgsMapSettings()
    settings.setLayers([layer])
    settings.setDestinationCrs(layer.crs())
    extent = layer.extent()
    extent.scale(1.1)
    settings.setExtent(extent)
    settings.setOutputSize(QSize(900, 420))
    settings.setOutputDpi(96)
    settings.setBackgroundColor(QColor(255, 255, 255))
    job = QgsMapRendererParallelJob(settings)
    job.start()
    job.waitForFinished()
    check("QGIS drew " + os.path.basename(path), job.renderedImage().save(path, "PNG"))


def check_output(arg, shots, drawn):
    kind, uri = arg.split("=", 1)
    provider = "ogr"
    if uri.startswith("postgres:"):
        provider, uri = "postgres", uri[len("postgres:"):]
    if provider == "ogr":
        name = "/".join(uri.split("/")[-2:])
    else:
        name = uri.split(" table=")[-1].split(" ")[0]
    layer = QgsVectorLayer(uri, "result", provider)
    if not layer.isValid():
        check(name + " opens in QGIS", False, uri)
        return
    message, loaded = layer.loadDefaultStyle()
    check(name + " has a default style", loaded, message)
    if kind == "single":
        check_single(name, layer)
    else:
        check_graduated(name, layer)
    if kind not in drawn:
        drawn.add(kind)
        draw(layer, os.path.join(shots, "qgis-%s.png" % kind))


def main():
    shots = sys.argv[1]
    os.makedirs(shots, exist_ok=True)
    app = QgsApplication([], False)
    app.initQgis()
    drawn = set()
    for arg in sys.argv[2:]:
        check_output(arg, shots, drawn)
    print("checked %d outputs" % (len(sys.argv) - 2))
    sys.stdout.flush()
    # The layers are gone by now; QGIS's own teardown is not waited for,
    # as it may crash in the bindings after the checks are done.
    os._exit(1 if failures else 0)


if __name__ == "__main__":
    main()
