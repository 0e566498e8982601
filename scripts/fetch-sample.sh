#!/bin/sh
# Fetches the sample data into data/sample: the North Carolina counties
# (from Debian's r-cran-sf), the Boston census tracts (from Debian's
# r-cran-spdata), two layers with several families of fields by period
# (from Debian's python3-libpysal: the St Louis counties, homicides of
# 1979-84, 1984-88 and 1988-93; the Mexican states, incomes of 1940 to
# 2000; neither has a coordinate system of its own) and US ZIP-code points
# (npm package zipcodes).
# Every file is checked against its known checksum.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
dest="$root/data/sample"
mkdir -p "$dest"
check() {
  echo "$1  $2" | sha256sum -c --quiet - || { echo "checksum mismatch: $2" >&2; exit 1; }
}
if [ ! -f "$dest/nc.shp" ]; then
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get download r-cran-sf >/dev/null 2>&1 && dpkg -x r-cran-sf_*.deb x)
  for ext in shp shx dbf prj; do cp "$tmp/x/usr/lib/R/site-library/sf/shape/nc.$ext" "$dest/"; done
  rm -rf "$tmp"
fi
check 19347bc08e0b475915f8f17ac8c4be07e1b9f20084f0d0a0ab3f2b155b3795c3 "$dest/nc.dbf"
check 36db8dd8b3bf95fb6fd8d6a899eb2f74d8938c4c536fbc1a48ca06171bc9f1b9 "$dest/nc.prj"
check e66da6bad0da15c421dff0ff862617f2c6cd354befb223317a8353a2714ca7c8 "$dest/nc.shp"
check 0a1e095d55db22bc2aabfa71037d1e8041270dfd34604eab9fd4c2f04d1d2f13 "$dest/nc.shx"
if [ ! -f "$dest/boston_tracts.shp" ]; then
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get download r-cran-spdata >/dev/null 2>&1 && dpkg -x r-cran-spdata_*.deb x)
  for ext in shp shx dbf prj; do cp "$tmp/x/usr/lib/R/site-library/spData/shapes/boston_tracts.$ext" "$dest/"; done
  rm -rf "$tmp"
fi
check ece4590891d4797cf02f4e1f8747a5f651d839b2825693ab6041a33354405888 "$dest/boston_tracts.dbf"
check 36db8dd8b3bf95fb6fd8d6a899eb2f74d8938c4c536fbc1a48ca06171bc9f1b9 "$dest/boston_tracts.prj"
check d829ebcb3507220f78d73d828ece378a2aa194951376e66cf37bb2233c160ef3 "$dest/boston_tracts.shp"
check 07ece438b561a52d526c791cdcaee53ce644be479b340381fa522251e6c74165 "$dest/boston_tracts.shx"
if [ ! -f "$dest/stl_hom.shp" ] || [ ! -f "$dest/mexicojoin.shp" ]; then
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get download python3-libpysal >/dev/null 2>&1 && dpkg -x python3-libpysal_*.deb x)
  examples="$tmp/x/usr/lib/python3/dist-packages/libpysal/examples"
  for ext in shp shx dbf; do
    cp "$examples/stl/stl_hom.$ext" "$examples/mexico/mexicojoin.$ext" "$dest/"
  done
  rm -rf "$tmp"
fi
check 9b34acc6779fe1c7679db2a1070fb29429bcc34ca7152b96a4ef52780c558be8 "$dest/stl_hom.shp"
check 0107ed0bca62132ed4e245573ce8588d9042938cbcf9ff8c37e872d7124a175f "$dest/stl_hom.shx"
check e1e59b339f3cac09a463e23f14fe99aa96651177aa912b1c2376d03f0c1dd96b "$dest/stl_hom.dbf"
check 25c1a69c9f7ce4e52198fd276e4dfe82859f8b613740563b1ec756f389998224 "$dest/mexicojoin.shp"
check ca2b893efc8a55a2be3fd3414d202867fc3a42b337fc6f2fd6d4289400ddd97a "$dest/mexicojoin.shx"
check 153e49f96e799e186f7fa15a9d637c21f75870efabda0d8e068b6e3f089b9383 "$dest/mexicojoin.dbf"
if [ ! -f "$dest/zipcodes.json" ]; then
  tmp=$(mktemp -d)
  (cd "$tmp" && npm pack zipcodes@8.0.0 >/dev/null 2>&1)
  check 937a101bcc6d6dd1e126fd6582cffefa7bb2578eac2d14ad9746661004578040 "$tmp/zipcodes-8.0.0.tgz"
  tar -xzf "$tmp/zipcodes-8.0.0.tgz" -C "$tmp" package/lib/codes.js
  # codes.js is "exports.codes = " followed by JSON.
  sed '1s/^exports\.codes *= *//; $s/; *$//' "$tmp/package/lib/codes.js" > "$dest/zipcodes.json"
  rm -rf "$tmp"
fi
if [ ! -f "$dest/zipcodes.shp" ]; then
  # The ZIP-code centres as a point layer (customers for the profile).
  python3 - "$dest/zipcodes.json" "$dest/zipcodes.geojson" <<'PY'
import json, sys
codes = json.JSONDecoder().raw_decode(open(sys.argv[1]).read())[0]  # the first export only
features = []
for c in codes.values():
    try:
        lon, lat = float(c["longitude"]), float(c["latitude"])
    except (KeyError, TypeError, ValueError):
        continue
    features.append({"type": "Feature", "geometry": {"type": "Point", "coordinates": [lon, lat]},
                     "properties": {"ZIP": c["zip"], "CITY": c.get("city", ""), "STATE": c.get("state", "")}})
json.dump({"type": "FeatureCollection", "features": features}, open(sys.argv[2], "w"))
PY
  ogr2ogr -f "ESRI Shapefile" -a_srs EPSG:4326 "$dest/zipcodes.shp" "$dest/zipcodes.geojson"
  rm -f "$dest/zipcodes.geojson"
fi
echo "sample data in $dest"
