// Draws a memory picture as the core describes it (memoryPicture.cpp): one
// cell a block, coloured by its class; the colours are the stylesheet's.
const COLUMNS = 64;
const CELL = 6;

function cssName(letter) {
  return 'block-' + (letter === '.' ? 'dot' : letter);
}

export function drawPicture(container, picture) {
  const style = getComputedStyle(document.documentElement);
  const colour = {};
  for (const c of picture.classes) colour[c.letter] = style.getPropertyValue('--' + cssName(c.letter)).trim();
  const seen = new Set();
  const figures = picture.regions.map((region) => {
    const blocks = region.blocks;
    const rows = Math.ceil(blocks.length / COLUMNS);
    const canvas = document.createElement('canvas');
    canvas.width = COLUMNS * CELL;
    canvas.height = rows * CELL;
    const g = canvas.getContext('2d');
    for (let i = 0; i < blocks.length; i++) {
      seen.add(blocks[i]);
      g.fillStyle = colour[blocks[i]];
      g.fillRect((i % COLUMNS) * CELL, Math.floor(i / COLUMNS) * CELL, CELL - 1, CELL - 1);
    }
    canvas.setAttribute('role', 'img');
    canvas.setAttribute('aria-label', region.label);
    const figure = document.createElement('figure');
    const caption = document.createElement('figcaption');
    caption.textContent = region.label;
    figure.append(caption, canvas);
    return figure;
  });
  const legend = document.createElement('ul');
  legend.className = 'legend';
  for (const c of picture.classes) {
    if (!seen.has(c.letter)) continue;
    const item = document.createElement('li');
    item.className = cssName(c.letter);
    item.textContent = c.name;
    legend.append(item);
  }
  container.replaceChildren(legend, ...figures);
}
