"""Reports per day as an SVG bar chart, drawn on the server so the page
needs no script."""
import datetime
from xml.sax.saxutils import escape

MAX_DAYS = 92
MIN_DAYS = 14
WIDTH, HEIGHT, MARGIN = 720, 200, 30


def svg(days):
    """`days`: (ISO date "YYYY-MM-DD", count) in order. The last MAX_DAYS
    days up to the latest, days without reports drawn as empty."""
    counts = {}
    for day, count in days:
        try:
            counts[datetime.date.fromisoformat(day)] = int(count)
        except ValueError:
            continue
    head = (f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" '
            f'viewBox="0 0 {WIDTH} {HEIGHT}" role="img" aria-label="Reports per day">'
            f'<rect width="{WIDTH}" height="{HEIGHT}" fill="#fff"/>')
    if not counts:
        return head + f'<text x="{MARGIN}" y="{HEIGHT // 2}" font-family="sans-serif" font-size="13">' \
                      'No reports yet.</text></svg>'
    last = max(counts)
    # At least two weeks, so a single day is not one wide bar.
    first = min(max(min(counts), last - datetime.timedelta(days=MAX_DAYS - 1)),
                last - datetime.timedelta(days=MIN_DAYS - 1))
    span = (last - first).days + 1
    top = max(counts.get(first + datetime.timedelta(days=i), 0) for i in range(span))
    slot = (WIDTH - 2 * MARGIN) / span
    plot_height = HEIGHT - 2 * MARGIN
    parts = [head]
    for i in range(span):
        day = first + datetime.timedelta(days=i)
        count = counts.get(day, 0)
        bar = plot_height * count / top
        parts.append(f'<rect x="{MARGIN + i * slot + slot * 0.1:.1f}" y="{MARGIN + plot_height - bar:.1f}" '
                     f'width="{slot * 0.8:.1f}" height="{bar:.1f}" fill="#3b6ea5">'
                     f'<title>{escape(day.isoformat())}: {count}</title></rect>')
    text = 'font-family="sans-serif" font-size="12"'
    parts.append(f'<text x="{MARGIN}" y="{HEIGHT - 8}" {text}>{escape(first.isoformat())}</text>')
    parts.append(f'<text x="{WIDTH - MARGIN}" y="{HEIGHT - 8}" text-anchor="end" {text}>'
                 f'{escape(last.isoformat())}</text>')
    parts.append(f'<text x="{MARGIN}" y="{MARGIN - 10}" {text}>most in a day: {top}</text>')
    parts.append("</svg>")
    return "".join(parts)
