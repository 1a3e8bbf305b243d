#include "gfx/form.h"

#include <algorithm>
#include <cstring>

#include "data/images.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"

namespace {

// Text flags of the widgets.
constexpr u32 CHOICE_TEXT_FLAGS = TF_OUTLINE | TF_TRANSPARENT;                               // 53248
constexpr u32 OPTION_CURRENT_FLAGS = TF_OUTLINE | TF_TRANSPARENT | TF_HCENTER | TF_VCENTER;  // 53288
constexpr u32 OPTION_OTHER_FLAGS = TF_SHADOW_DR | TF_TRANSPARENT | TF_HCENTER | TF_VCENTER;  // 20520
// The first option's text sits this much right of its span's centre, the last one's as much left.
constexpr i32 OPTION_END_SHIFT = 2;

// Selects `font` for the lifetime of the object and puts the previous font back.
class FontScope {
public:
    explicit FontScope(u8 font) : saved_(font_current) { font_select(font); }
    ~FontScope() { font_select(saved_); }
    FontScope(const FontScope&) = delete;
    FontScope& operator=(const FontScope&) = delete;

private:
    u8 saved_;
};

// Returns the middle segments an option of n characters needs in a font of cell width cw.
i32 option_cells_for(i32 cw, i32 n)
{
    return (cw * n - 10) / OPTION_PIECE_W + 1;
}

// Returns the 0-based index of the field before (step -1) or after (step +1)
// `from` that is enabled, wrapping round; `from` itself when no other is.
int next_enabled(const FormWidget* f, int from, int step)
{
    const int n = f->count;
    int i = from;
    for (int tries = 1; tries < n; ++tries) {
        i = (i + step + n) % n;
        if (f->fields[i].enabled) return i;
    }
    return from;
}

void draw_field(const FormWidget* f, int i, bool focused)
{
    const FormField& fld = f->fields[i];
    if (!focused) {
        if (fld.normal_image) {
            image_draw(fld.x, fld.y, fld.normal_image);
        } else if (fld.focus_image) {
            clear_image_area(fld.x, fld.y, static_cast<const u16*>(fld.focus_image));
        }
        return;
    }
    image_draw(fld.x, fld.y, fld.focus_image);
    if (f->caption_font != 0 && fld.caption) {
        FontScope fs(f->caption_font);
        text_draw(f->caption_x, f->caption_y, fld.caption, 0);
    }
}

}  // namespace

void choice_init(ChoiceBox* box, i32 x, i32 y, u8 font)
{
    std::memset(box, 0, sizeof *box);
    box->x = x;
    box->y = y;
    box->font = font;
    box->current = 1;
    box->key_prev = KEY_LEFT;
    box->key_next = KEY_RIGHT;
    box->key_up = KEY_UP;
    box->key_down = KEY_DOWN;
}

u8 choice_add(ChoiceBox* box, const char* text)
{
    if (box->count >= CHOICE_MAX_TEXTS) return box->count;
    box->texts[box->count++] = text;
    FontScope fs(box->font);
    box->w = std::max(box->w, text_width(text));
    box->h = std::max(box->h, text_height(text));
    return box->count;
}

void choice_draw(const ChoiceBox* box, bool enabled)
{
    if (box->current < 1 || box->current > box->count) return;
    const char* text = box->texts[box->current - 1];
    if (!text) return;
    FontScope fs(box->font);
    if (box->plain) {
        clear_box(box->x, box->y, box->w, box->h);
        text_draw(box->x, box->y, text, 0);
        return;
    }
    const i32 cw = font_width;
    image_draw(box->x, box->y, enabled ? img_choice_left_focus : img_choice_left);
    i32 pos = box->x + CHOICE_LEFT_W;
    while (pos < box->x + box->w + 2 * cw) {
        image_draw(pos, box->y, image_set[IMG_CHOICE_FILLER]);
        pos += CHOICE_FILLER_W;
    }
    image_draw(pos, box->y, img_choice_right);
    text_draw(box->x + 2 * cw + 8, box->y + 3, text, CHOICE_TEXT_FLAGS);
}

void choice_prev(ChoiceBox* box)
{
    if (box->count == 0) return;
    box->current = box->current <= 1 ? box->count : box->current - 1;
    choice_draw(box, true);
}

void choice_next(ChoiceBox* box)
{
    if (box->count == 0) return;
    box->current = box->current >= box->count ? 1 : box->current + 1;
    choice_draw(box, true);
}

int choice_key(ChoiceBox* box, u32 key)
{
    if (key == box->key_prev) {
        choice_prev(box);
        return 1;
    }
    if (key == box->key_next) {
        choice_next(box);
        return 1;
    }
    return 0;
}

u8 choice_get(const ChoiceBox* box)
{
    return box->current;
}

void choice_set(ChoiceBox* box, u8 i)
{
    if (i >= 1 && i <= box->count) box->current = i;
}

void option_init(OptionBar* bar, i32 x, i32 y, u8 font, u32 min_chars, u32 key_prev, u32 key_next)
{
    std::memset(bar, 0, sizeof *bar);
    bar->x = x;
    bar->y = y;
    bar->font = font;
    bar->current = 1;
    bar->key_prev = key_prev;
    bar->key_next = key_next;
    FontScope fs(font);
    bar->cells = min_chars != 0 ? std::max(1, option_cells_for(font_width, static_cast<i32>(min_chars))) : 1;
    bar->w = OPTION_PIECE_W * 3;
    bar->h = OPTION_BAR_H;
}

u8 option_add(OptionBar* bar, const char* text)
{
    if (bar->count >= OPTION_MAX_TEXTS) return bar->count;
    bar->texts[bar->count++] = text;
    FontScope fs(bar->font);
    const i32 n = text ? static_cast<i32>(std::strlen(text)) : 0;
    bar->cells = std::max(bar->cells, option_cells_for(font_width, n));
    bar->w = OPTION_PIECE_W * (bar->cells + 2) * bar->count;
    return bar->count;
}

void option_draw(const OptionBar* bar)
{
    clear_box(bar->x, bar->y, bar->w, bar->h);
    FontScope fs(bar->font);
    const i32 span = OPTION_PIECE_W * (bar->cells + 2);
    for (int i = 0; i < bar->count; ++i) {
        const bool cur = i + 1 == bar->current;
        const bool first = i == 0;
        const bool last = i == bar->count - 1;
        const i32 ox = bar->x + i * span;
        // Inner joints: the half toward the option's middle carries its highlight.
        const void* left = first ? (cur ? img_option_first_sel : img_option_first)
                                 : image_set[cur ? IMG_OPTION_JOINT_SEL_RIGHT : IMG_OPTION_JOINT];
        const void* right = last ? (cur ? img_option_last_sel : img_option_last)
                                 : image_set[cur ? IMG_OPTION_JOINT_SEL_LEFT : IMG_OPTION_JOINT];
        image_draw(ox, bar->y, left);
        const void* mid = image_set[cur ? IMG_OPTION_MID_SEL : IMG_OPTION_MID];
        for (i32 c = 0; c < bar->cells; ++c) image_draw(ox + OPTION_PIECE_W * (c + 1), bar->y, mid);
        image_draw(ox + OPTION_PIECE_W * (bar->cells + 1), bar->y, right);
        if (!bar->texts[i]) continue;
        i32 tx = ox + span / 2;
        if (first) tx += OPTION_END_SHIFT;
        if (last) tx -= OPTION_END_SHIFT;
        text_draw(tx, bar->y + bar->h / 2, bar->texts[i], cur ? OPTION_CURRENT_FLAGS : OPTION_OTHER_FLAGS);
    }
}

int option_key(OptionBar* bar, u32 key)
{
    const bool prev = key == bar->key_prev;
    const bool next = key == bar->key_next;
    if (!prev && !next) return 0;
    if (bar->count == 0) return 1;
    if (prev)
        bar->current = bar->current <= 1 ? bar->count : bar->current - 1;
    else
        bar->current = bar->current >= bar->count ? 1 : bar->current + 1;
    option_draw(bar);
    return 1;
}

void form_init(FormWidget* form, u32 key_prev, u32 key_next, u32 key_prev2, u32 key_next2, u32 key_select)
{
    std::memset(form, 0, sizeof *form);
    form->sel = 1;
    form->key_prev = key_prev;
    form->key_next = key_next;
    form->key_prev2 = key_prev2;
    form->key_next2 = key_next2;
    form->key_select = key_select;
    form->key_select2 = KEY_NONE;
}

void form_add(FormWidget* form, i32 x, i32 y, const void* focus_image, const void* normal_image, const char* caption,
              u8 type, void* widget, u32 hot_key)
{
    if (form->count >= FORM_MAX_FIELDS) return;
    FormField& f = form->fields[form->count++];
    f.type = type;
    f.widget = widget;
    f.focus_image = focus_image;
    f.normal_image = normal_image;
    f.caption = caption;
    f.x = x;
    f.y = y;
    f.hot_key = hot_key;
    f.enabled = 1;
}

void form_enable(FormWidget* form, int number, int flag)
{
    if (number < 1 || number > form->count) return;
    form->fields[number - 1].enabled = flag != 0 ? 1 : 0;
}

void form_draw_widgets(const FormWidget* form)
{
    const u16 fg = fg_color;
    for (int i = 0; i < form->count; ++i) {
        const FormField& f = form->fields[i];
        if (!f.widget) continue;
        if (f.type == FIELD_CHOICE) {
            fg_color = f.enabled ? fg : static_cast<u16>(COLOR_GREY);
            choice_draw(static_cast<const ChoiceBox*>(f.widget), f.enabled != 0);
            fg_color = fg;
        } else if (f.type == FIELD_OPTION) {
            option_draw(static_cast<const OptionBar*>(f.widget));
        }
    }
}

void form_draw_focus(const FormWidget* form)
{
    const int sel = form->sel - 1;
    for (int i = 0; i < form->count; ++i)
        if (i != sel) draw_field(form, i, false);
    if (sel >= 0 && sel < form->count) draw_field(form, sel, true);
}

i32 form_poll(FormWidget* form, u32* key)
{
    const u32 k = key_poll();
    if (key) *key = k;
    if (form->count == 0) return k == KEY_ESC ? POLL_ESC : POLL_NOTHING;
    if (k == KEY_ESC) return POLL_ESC;
    if (k == KEY_NONE) return POLL_NOTHING;

    const int sel = std::clamp<int>(form->sel, 1, form->count) - 1;
    FormField& cur = form->fields[sel];
    if (cur.enabled && cur.widget) {
        if (cur.type == FIELD_CHOICE && choice_key(static_cast<ChoiceBox*>(cur.widget), k)) return POLL_CHANGED;
        if (cur.type == FIELD_OPTION && option_key(static_cast<OptionBar*>(cur.widget), k)) return POLL_CHANGED;
    }
    const bool up = k == form->key_prev || k == form->key_prev2;
    const bool down = k == form->key_next || k == form->key_next2;
    if (up || down) {
        draw_field(form, sel, false);
        form->sel = static_cast<u8>(next_enabled(form, sel, up ? -1 : 1) + 1);
        return POLL_FOCUS_MOVED;
    }
    for (int i = 0; i < form->count; ++i)
        if (form->fields[i].enabled && form->fields[i].hot_key == k) return i + 1;
    if (k == form->key_select || k == form->key_select2) return sel + 1;
    return POLL_NOTHING;
}
