// litehtml's document container: fonts, text, backgrounds, borders, list
// markers, pictures and clips drawn onto an emf::Device; style sheets and
// pictures fetched through the load's ResourceFetcher.
#pragma once

#include <litehtml.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emf/device.h"
#include "fonts.h"
#include "resources.h"
#include "sanitize.h"

namespace htmlengine {

// What litehtml passes as its device handle.
struct DrawTarget {
    emf::Device* device = nullptr;
};

class Container final : public litehtml::document_container {
public:
    Container(FontManager& fonts, ResourceFetcher& fetcher);

    void SetBaseUrl(std::string url) { baseUrl_ = std::move(url); }
    const std::string& BaseUrl() const { return baseUrl_; }
    void SetDocumentEncoding(std::string e) { documentEncoding_ = std::move(e); }
    // The device that set_clip (which gets no device handle) draws on.
    void SetDevice(emf::Device* d) { currentDevice_ = d; }
    void SetViewport(int width, int height) { viewportWidth_ = width, viewportHeight_ = height; }
    // Alternative texts of <img> elements by resolved address, shown when the picture is missing.
    void SetAltText(const std::string& resolvedUrl, const std::string& alt) { alt_.emplace(resolvedUrl, alt); }
    // The document of an inline picture the clean-up took out of the markup
    // (kInlineSvgScheme addresses).
    void SetInlinePicture(std::string url, const InlineSvg& svg) { inline_.emplace(std::move(url), svg); }
    std::string Resolve(const std::string& ref, const std::string& base = {}) const;
    // Draws the text run still held back for joining (call after drawing a document).
    void FlushText();
    std::vector<std::string>& Warnings() { return warnings_; }

    litehtml::uint_ptr create_font(const litehtml::tchar_t* faceName, int size, int weight, litehtml::font_style italic,
                                   unsigned int decoration, litehtml::font_metrics* fm) override;
    void delete_font(litehtml::uint_ptr hFont) override;
    int text_width(const litehtml::tchar_t* text, litehtml::uint_ptr hFont) override;
    void draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr hFont,
                   litehtml::web_color color, const litehtml::position& pos) override;
    int pt_to_px(int pt) const override { return pt * 96 / 72; }
    int get_default_font_size() const override { return 16; }
    const litehtml::tchar_t* get_default_font_name() const override { return "Times New Roman"; }
    void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override;
    void load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, bool redraw_on_ready) override;
    void get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, litehtml::size& sz) override;
    void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override;
    void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders, const litehtml::position& draw_pos,
                      bool root) override;
    void set_caption(const litehtml::tchar_t*) override {}
    void set_base_url(const litehtml::tchar_t* base_url) override;
    void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override {}
    void on_anchor_click(const litehtml::tchar_t*, const litehtml::element::ptr&) override {}
    void set_cursor(const litehtml::tchar_t*) override {}
    void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override;
    void import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseurl) override;
    void set_clip(const litehtml::position& pos, const litehtml::border_radiuses& bdr_radius, bool valid_x,
                  bool valid_y) override;
    void del_clip() override;
    void get_client_rect(litehtml::position& client) const override;
    std::shared_ptr<litehtml::element> create_element(const litehtml::tchar_t*, const litehtml::string_map&,
                                                      const std::shared_ptr<litehtml::document>&) override {
        return nullptr;
    }
    void get_media_features(litehtml::media_features& media) const override;
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override;
    void split_text(const char* text, const std::function<void(const litehtml::tchar_t*)>& on_word,
                    const std::function<void(const litehtml::tchar_t*)>& on_space) override;

private:
    struct Picture {
        std::shared_ptr<emf::Image> image;  // null: missing
        // Text drawn over the picture (inline SVG), boxes in the picture's pixels.
        struct Text {
            std::string text, family;
            emf::Color color;
            int weight = 400;
            bool italic = false;
            double size = 0, x = 0, y = 0, width = 0, height = 0;
        };
        std::vector<Text> texts;
    };
    void DrawPictureText(emf::Device& dev, const Picture& pic, double x, double y, double w, double h);
    Picture InlinePicture(const InlineSvg& svg, litehtml::document_container& colours);
    const Picture& GetPicture(const std::string& resolvedUrl);
    void DrawTextAt(emf::Device& dev, const std::string& text, Font& font, const emf::Color& color, double x,
                    double baseline);
    bool DrawGradient(emf::Device& dev, const litehtml::background_paint& bg);

    // Words litehtml draws one by one are joined into runs of a line: the
    // run is held until a word that does not continue it, or any other drawing.
    void EmitText(emf::Device& dev, emf::TextRun run, double spaceWidth);
    emf::TextRun pending_;
    emf::Device* pendingDevice_ = nullptr;
    double pendingEnd_ = 0, pendingSpace_ = 0;

    FontManager& fonts_;
    ResourceFetcher& fetcher_;
    std::string baseUrl_;
    std::string documentEncoding_;
    int viewportWidth_ = 800, viewportHeight_ = 1080;
    std::map<std::string, Picture> pictures_;
    std::map<std::string, std::string> alt_;
    std::map<std::string, InlineSvg> inline_;
    std::vector<std::string> warnings_;
    std::vector<emf::Device*> clipDevices_;  // devices with a clip of set_clip open
    emf::Device* currentDevice_ = nullptr;
    Font* altFont_ = nullptr;
    std::size_t pictureBytes_ = 0;
};

// A path for a rectangle with elliptic corners (radii in the litehtml order).
emf::Path RoundedRect(double l, double t, double r, double b, const litehtml::border_radiuses& radii);

}  // namespace htmlengine
