#!/usr/bin/env bash
# Installs every Debian package the build, the app, the tests and the benchmarks need.
# Checks first and installs only what is missing, so a second run is quick and silent.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build ccache pkg-config git
    # the program is linked with lld, which leaves out libraries only unused code needed
    lld
    # Qt
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-pdf-dev qt6-image-formats-plugins
    libqt6svg6 libqt6pdf6 libqt6opengl6-dev libgl-dev
    # X11
    libx11-dev libx11-xcb-dev libxcb1-dev libxcb-keysyms1-dev libxcb-xkb-dev libxcb-xinput-dev
    libxcb-xfixes0-dev libxcb-shm0-dev libxcb-composite0-dev libxcb-randr0-dev libxcb-icccm4-dev
    libxcb-ewmh-dev libxcb-image0-dev libxcb-util-dev libxkbcommon-dev libxcb-damage0-dev
    # pictures, documents, text
    libpng-dev zlib1g-dev libheif-dev libexif-dev libqpdf-dev
    # colours the toolkit can't describe (CMYK, Lab, grey profiles) are read and turned with these
    liblcms2-dev libjpeg-dev libtiff-dev
    libtesseract-dev libleptonica-dev tesseract-ocr tesseract-ocr-eng tesseract-ocr-deu tesseract-ocr-fra
    tesseract-ocr-osd
    libzxing-dev libcld2-dev libopencv-imgproc-dev libopencv-core-dev
    libicu-dev
    # look
    fonts-inter fonts-jetbrains-mono bootstrap-icons
    # the recognition tests draw their pages in these too (DejaVu Sans and Serif)
    fonts-dejavu-core
    # tests and benchmarks
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    xvfb xauth openbox tint2 xcompmgr xdotool x11-utils x11-xserver-utils xterm
    imagemagick scrot hyperfine xdg-utils dbus-x11 procps python3
    # other window managers the keyboard's way back is checked under
    icewm fluxbox jwm
    # the installed desktop entry is checked with these
    desktop-file-utils libglib2.0-bin
    # the Recent search benchmark compares with fd
    fd-find
    # the terminal fonts the redaction is tried on: xterm's other bitmap sizes, and Liberation Mono
    xfonts-base fonts-liberation
    # and every other monospace face Debian packages, bitmap and outline, in xterm, urxvt and a VTE terminal
    xfonts-75dpi xfonts-100dpi xfonts-terminus fonts-hack fonts-noto-mono fonts-inconsolata fonts-firacode
    fonts-go fonts-croscore fonts-freefont-ttf rxvt-unicode sakura

    # a real browser for the full-page recording test
    chromium
    # and a real pager and editor with their status lines: man bash through less, vim
    man-db less vim

    # a file manager that draws the desktop and takes dropped files, for the drag tests
    pcmanfm

    # the conversion tests make their pictures with these and judge colours by ImageMagick's lcms reading
    libheif-examples libtiff-tools libgs-common

    # PDF pages written back are checked with the qpdf command, and what a reader copies from them with pdftotext
    qpdf poppler-utils

    # the side-by-side benchmark's start-up anchor: another tray screenshot tool's cold start
    flameshot
)

# Text recognition reads the language of the machine's locale as well, when Debian has its pack.
localePack() {
    local lang="${LC_ALL:-${LC_MESSAGES:-${LANG:-}}}"
    lang="${lang%%[_.@]*}"
    local code=""
    case "$lang" in
        de) code=deu ;; fr) code=fra ;; es) code=spa ;; it) code=ita ;; pt) code=por ;; nl) code=nld ;;
        sv) code=swe ;; da) code=dan ;; nb|no) code=nor ;; fi) code=fin ;; pl) code=pol ;; cs) code=ces ;;
        sk) code=slk ;; sl) code=slv ;; hu) code=hun ;; ro) code=ron ;; hr) code=hrv ;; sr) code=srp ;;
        bg) code=bul ;; ru) code=rus ;; uk) code=ukr ;; el) code=ell ;; tr) code=tur ;; et) code=est ;;
        lv) code=lav ;; lt) code=lit ;; ca) code=cat ;; eu) code=eus ;; gl) code=glg ;; ga) code=gle ;;
        is) code=isl ;; he) code=heb ;; ar) code=ara ;; fa) code=fas ;; hi) code=hin ;; bn) code=ben ;;
        ta) code=tam ;; th) code=tha ;; vi) code=vie ;; id) code=ind ;; ms) code=msa ;; ja) code=jpn ;;
        ko) code=kor ;; zh) case "${LC_ALL:-${LC_MESSAGES:-${LANG:-}}}" in zh_TW*|zh_HK*) code=chi_tra ;; *) code=chi_sim ;; esac ;;
    esac
    if [ -n "$code" ] && apt-cache show "tesseract-ocr-$code" >/dev/null 2>&1; then
        echo "tesseract-ocr-$code"
    fi
}
pack="$(localePack)"
if [ -n "$pack" ]; then packages+=("$pack"); fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
